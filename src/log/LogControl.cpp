#include "LogControl.h"

#include "link/PacketRecord.h"
#include "log/LogFileName.h"
#include "log/LogView.h"
#include "log/TLog_Router.h"
#include "protocol/DeviceRecord.h"
#include "protocol/MessageType.h"

#include <QFileInfo>

const char* const LogControl::kWarningCaption = "Warning";
const char* const LogControl::kWarningText =
    "Scan Channel Information Not In Log File!! Restart scan. This message will continually popup "
    "until scan is stopped.";

LogControl::LogControl(DeviceRecord& device, std::unique_ptr<LogView> view, std::function<void()> requestSettings,
                       QObject* parent)
    : QObject(parent)
    , m_device(device)
    , m_view(std::move(view))
    , m_requestSettings(std::move(requestSettings))
{
    connect(this, &LogControl::writerFailedQueued, this, [this](quintptr writer, const QString& message) {
        writerFailed(reinterpret_cast<TLog_Router*>(writer), message);
    }, Qt::QueuedConnection);
    connect(this, &LogControl::noticeQueued, this, &LogControl::showNotice, Qt::QueuedConnection);
    connect(this, &LogControl::warningQueued, this, &LogControl::raiseWarning, Qt::QueuedConnection);
}

LogControl::~LogControl()
{
    shutdown();
    m_writer.store(nullptr);
}

void LogControl::btnLogFileClick()
{
    if (const auto chosen = m_view->chooseLogFile(m_view->logFileName())) {
        m_view->setLogFileName(*chosen);
        if (onFolderChosen)
            onFolderChosen(QFileInfo(*chosen).absolutePath());
    }
}

void LogControl::btnLogModeClick()
{
    if (m_view->logModeChecked())
        startLogging();
    else
        stopLogging();
}

void LogControl::startLogging()
{
    // Refused before anything is shown, sent or created.
    const QString fileName = m_view->logFileName();
    if (const std::string problem = LogFileName::problem(fileName.toStdString()); !problem.empty()) {
        m_view->releaseLogMode();
        m_view->showError(QString::fromStdString(problem));
        return;
    }
    // The settings reply, which the header waits for, usually comes before the
    // warning's OK: channel information of an earlier measurement must not
    // reach this file's header by it.
    m_device.forgetChannelInfo();
    m_view->showLogWarning();
    // The header of a new file waits for the answer to the settings request.
    const uint32_t settingsReplies = m_device.settingsReplies();

    const std::string name = LogFileName::fromText(fileName.toStdString());
    // No posts while the writer is being made.
    m_writer.store(nullptr);
    // The writer is made suspended, so it learns its own address before it
    // can fail and report.
    auto self = std::make_shared<TLog_Router*>(nullptr);
    auto writer = std::make_unique<TLog_Router>(
        name, m_device, [this, self](const std::string& message) {
            emit writerFailedQueued(reinterpret_cast<quintptr>(*self), QString::fromStdString(message), QPrivateSignal());
        },
        true);
    *self = writer.get();
    writer->setNoticeHandler([this](const std::string& message) {
        emit noticeQueued(QString::fromStdString(message), QPrivateSignal());
    });
    writer->waitForSettings(settingsReplies, m_settingsWait);
    TLog_Router* w = writer.get();
    m_writers.push_back(std::move(writer));
    m_writer.store(w);
    m_logging.store(true);
    w->start();
    m_view->setLogFileEditable(false);
    // Asked only now that a writer takes posts: a quick reply is logged too.
    if (m_requestSettings)
        m_requestSettings();
}

void LogControl::stopLogging()
{
    m_logging.store(false);
    if (TLog_Router* w = m_writer.load())
        w->stop();
    m_view->setLogFileEditable(true);
}

void LogControl::writerFailed(TLog_Router* writer, const QString& message)
{
    // A failure of an earlier run's writer does not end the current run.
    if (writer == m_writer.load() && m_logging.load()) {
        m_logging.store(false);
        m_view->releaseLogMode();
        m_view->setLogFileEditable(true);
        // Its advice to start the measurement no longer holds.
        m_view->hideLogWarning();
    }
    m_view->showError(message);
}

// Logging goes on: the box only tells what happened to the file.
void LogControl::showNotice(const QString& message)
{
    m_notices.append(message);
    m_view->showNotice(message);
}

void LogControl::handOff(const PacketRecord& packet)
{
    if (!m_logging.load())
        return;
    TLog_Router* writer = m_writer.load();
    if (!writer)
        return;
    const uint8_t t = packet.type();
    if (Message::isMeasurement(t) && !m_device.channelInfoPresent.load()) {
        if (m_unloggedScanCount.load() < kWarningThreshold)
            ++m_unloggedScanCount;
        else if (!m_warningPending.exchange(true))
            emit warningQueued(QPrivateSignal());
    }
    // The framer never hands over more than the record holds; a corrupt length
    // must not make us read past it.
    if (packet.fromLengthCount() > PacketRecord::kSize - 1)
        return;
    writer->PostRecord(packet.fromLength(), packet.fromLengthCount());
}

void LogControl::raiseWarning()
{
    m_view->showScanWarning(QString::fromLatin1(kWarningCaption), QString::fromLatin1(kWarningText), [this] {
        m_unloggedScanCount.store(0);
        m_warningPending.store(false);
    });
}

std::optional<int32_t> LogControl::fileSizeKB()
{
    TLog_Router* w = m_writer.load();
    if (!w)
        return std::nullopt;
    return w->MeasureFileSize();
}

void LogControl::shutdown()
{
    m_logging.store(false);
    for (const auto& w : m_writers)
        w->stopAndWait();
}
