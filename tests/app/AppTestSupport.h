#pragma once

#include "platform/WorkerThread.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

// Joins every worker the forms under test started, once all tests ran.
class JoinWorkersAtExit : public ::testing::Environment
{
public:
    void TearDown() override { WorkerThread::shutdownAll(); }
};

// What a message box showed; filled when the box is dismissed.
struct SeenBox
{
    bool seen = false;
    QString caption;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

// Watches for the next modal message box, records it and presses OK.
inline std::shared_ptr<SeenBox> dismissNextMessageBox()
{
    auto seen = std::make_shared<SeenBox>();
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [seen, timer] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        seen->seen = true;
        seen->caption = box->windowTitle();
        seen->text = box->text();
        seen->icon = box->icon();
        box->button(QMessageBox::Ok)->click();
        timer->stop();
        timer->deleteLater();
    });
    timer->start();
    return seen;
}

// Serves the event loop until done() or the time-out; false on time-out.
inline bool processUntil(const std::function<bool()>& done, int timeoutMs = 5000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}
