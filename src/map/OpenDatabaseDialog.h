#pragma once

#include <QDialog>
#include <QString>

class QDialogButtonBox;
class QLineEdit;

// Asks for a shared coverage map in PostgreSQL: libpq's connection text,
// with or without GDAL's "PG:" in front.
class OpenDatabaseDialog : public QDialog
{
    Q_OBJECT
public:
    explicit OpenDatabaseDialog(const QString& connection, QWidget* parent = nullptr);

    // "PG:" and the connection text; empty while none is typed.
    QString source() const;
    QLineEdit* connectionEdit() const { return m_connection; }
    QDialogButtonBox* buttons() const { return m_buttons; }

private:
    QLineEdit* m_connection;
    QDialogButtonBox* m_buttons;
};
