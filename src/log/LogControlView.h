#pragma once

#include "log/LogView.h"

#include <QMessageBox>
#include <QPointer>

class QAbstractButton;
class QFileDialog;
class QLineEdit;
class QWidget;
class TLogWarningForm;

// The window's logging controls as the log control sees them. Boxes are
// never modal: the link goes on reading and logging while one is open.
class LogControlView : public LogView
{
public:
    // warningForm may be null.
    LogControlView(QLineEdit* LogFile, QAbstractButton* btnLogMode, QWidget* dialogParent,
                   TLogWarningForm* warningForm);
    ~LogControlView() override;

    QString logFileName() const override;
    void setLogFileName(const QString& name) override;
    void setLogFileEditable(bool editable) override;
    bool logModeChecked() const override;
    void releaseLogMode() override;
    void showLogWarning() override;
    void hideLogWarning() override;
    void showError(const QString& message) override;
    void showNotice(const QString& message) override;
    void showScanWarning(const QString& caption, const QString& text, std::function<void()> dismissed) override;
    std::optional<QString> chooseLogFile(const QString& current) override;

    // The log file picker: a save-style dialog that takes a new name and
    // never asks to overwrite, since logging appends.
    static QFileDialog* makeLogFileDialog(QWidget* parent, const QString& current);

    QMessageBox* warningBox() const { return m_warningBox; }
    QMessageBox* errorBox() const { return m_errorBox; }

private:
    QLineEdit* m_logFile;
    QAbstractButton* m_btnLogMode;
    QWidget* m_dialogParent;
    TLogWarningForm* m_warningForm;
    QPointer<QMessageBox> m_warningBox;
    QPointer<QMessageBox> m_errorBox;
};
