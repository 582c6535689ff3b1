#include "LogControlView.h"

#include "log/TLogWarningForm.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>

#include <memory>

namespace {
QMessageBox* openBox(QMessageBox::Icon icon, const QString& caption, const QString& text, QWidget* parent)
{
    auto* box = new QMessageBox(icon, caption, text, QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
    return box;
}
} // namespace

LogControlView::LogControlView(QLineEdit* LogFile, QAbstractButton* btnLogMode, QWidget* dialogParent,
                               TLogWarningForm* warningForm)
    : m_logFile(LogFile)
    , m_btnLogMode(btnLogMode)
    , m_dialogParent(dialogParent)
    , m_warningForm(warningForm)
{
}

LogControlView::~LogControlView()
{
    delete m_warningBox.data();
    delete m_errorBox.data();
}

QString LogControlView::logFileName() const
{
    return m_logFile->text();
}

void LogControlView::setLogFileName(const QString& name)
{
    m_logFile->setText(name);
}

void LogControlView::setLogFileEditable(bool editable)
{
    m_logFile->setEnabled(editable);
}

bool LogControlView::logModeChecked() const
{
    return m_btnLogMode->isChecked();
}

void LogControlView::releaseLogMode()
{
    m_btnLogMode->setChecked(false);
}

void LogControlView::showLogWarning()
{
    if (!m_warningForm)
        return;
    m_warningForm->show();
    m_warningForm->raise();
    m_warningForm->activateWindow();
}

void LogControlView::hideLogWarning()
{
    if (m_warningForm)
        m_warningForm->hide();
}

void LogControlView::showError(const QString& message)
{
    if (m_errorBox) {
        m_errorBox->setText(message);
        m_errorBox->raise();
        return;
    }
    m_errorBox = openBox(QMessageBox::Critical, QStringLiteral("Error"), message, m_dialogParent);
}

void LogControlView::showNotice(const QString& message)
{
    openBox(QMessageBox::Warning, QStringLiteral("Warning"), message, m_dialogParent);
}

void LogControlView::showScanWarning(const QString& caption, const QString& text, std::function<void()> dismissed)
{
    QMessageBox* box = openBox(QMessageBox::Warning, caption, text, m_dialogParent);
    QObject::connect(box, &QMessageBox::finished, box, [dismissed = std::move(dismissed)] {
        if (dismissed)
            dismissed();
    });
    m_warningBox = box;
}

QFileDialog* LogControlView::makeLogFileDialog(QWidget* parent, const QString& current)
{
    auto* dialog = new QFileDialog(parent);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setOption(QFileDialog::DontConfirmOverwrite);
    dialog->setNameFilters({QStringLiteral("Tavrix log files (*.KLF)"), QStringLiteral("All files (*)")});
    if (!current.isEmpty())
        dialog->selectFile(current);
    return dialog;
}

std::optional<QString> LogControlView::chooseLogFile(const QString& current)
{
    std::unique_ptr<QFileDialog> dialog(makeLogFileDialog(m_dialogParent, current));
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        return std::nullopt;
    return dialog->selectedFiles().constFirst();
}
