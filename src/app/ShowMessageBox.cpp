#include "ShowMessageBox.h"

#include "platform/WorkerThread.h"

#include <QApplication>
#include <QMessageBox>
#include <QString>

#include <cstdarg>
#include <cstdio>

namespace {

void runBox(int16_t kind, const QString& text)
{
    QMessageBox::Icon icon = QMessageBox::Information;
    QString caption = QStringLiteral("Information");
    if (kind == 1) {
        icon = QMessageBox::Warning;
        caption = QStringLiteral("Warning");
    } else if (kind == 2) {
        icon = QMessageBox::Critical;
        caption = QStringLiteral("Error");
    }
    QMessageBox box(icon, caption, text, QMessageBox::Ok, QApplication::activeWindow());
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

} // namespace

void ShowMessageBox(int16_t kind, const char* format, ...)
{
    char buffer[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    const QString text = QString::fromLocal8Bit(buffer);

    if (!QApplication::instance())
        return;
    WorkerThread::Synchronize([kind, text] { runBox(kind, text); });
}
