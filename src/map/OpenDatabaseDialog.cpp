#include "OpenDatabaseDialog.h"

#include "coverage/PgSource.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

OpenDatabaseDialog::OpenDatabaseDialog(const QString& connection, QWidget* parent)
    : QDialog(parent), m_connection(new QLineEdit(connection, this)),
      m_buttons(new QDialogButtonBox(QDialogButtonBox::Open | QDialogButtonBox::Cancel, this))
{
    setWindowTitle(tr("Open a Shared Coverage Map"));
    setObjectName(QStringLiteral("openDatabaseDialog"));
    m_connection->setObjectName(QStringLiteral("connection"));
    m_connection->setAccessibleName(tr("Connection"));
    m_connection->setAccessibleDescription(tr("libpq's connection text of the PostgreSQL database holding the map"));
    m_connection->setPlaceholderText(QStringLiteral("dbname=fleet host=office"));
    m_connection->setMinimumWidth(m_connection->fontMetrics().horizontalAdvance(QLatin1Char('x')) * 48);
    auto* form = new QFormLayout;
    form->addRow(tr("&Connection:"), m_connection);
    auto* hint = new QLabel(tr("A PostgreSQL database with PostGIS that klf-coverage --db uploads to, "
                               "for example dbname=fleet host=office user=van3. The map refreshes when "
                               "another upload commits. Passwords are not remembered: keep them in ~/.pgpass."),
                            this);
    hint->setWordWrap(true);
    hint->setAccessibleName(tr("About the connection"));
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(hint);
    layout->addWidget(m_buttons);
    m_buttons->button(QDialogButtonBox::Open)->setAccessibleName(tr("Open the shared map"));
    m_buttons->button(QDialogButtonBox::Cancel)->setAccessibleName(tr("Cancel"));
    connect(m_buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto typed = [this] { m_buttons->button(QDialogButtonBox::Open)->setEnabled(!source().isEmpty()); };
    connect(m_connection, &QLineEdit::textChanged, this, typed);
    typed();
}

QString OpenDatabaseDialog::source() const
{
    const QString text = m_connection->text().trimmed();
    if (text.isEmpty() || text.compare(QLatin1String(PgSource::kPrefix), Qt::CaseInsensitive) == 0)
        return QString();
    return PgSource::is(text.toStdString()) ? text : QLatin1String(PgSource::kPrefix) + text;
}
