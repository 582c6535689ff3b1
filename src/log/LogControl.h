#pragma once

#include <QObject>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class DeviceRecord;
class LogView;
class TLog_Router;
struct PacketRecord;

// The tool bar's logging controls and the decoder's logging hand-off. It
// reaches the window through a LogView, so it needs no widgets.
//
// handOff runs on the link thread and must never wait for the window: it reads
// an atomic mirror of btnLogMode instead of the button, and the
// missing-channel-information warning is posted to the window thread and shown
// without a nested event loop, so the link keeps reading, decoding and logging
// while the box is open. A second box is never stacked on an open one; the
// count restarts when the box is dismissed.
class LogControl : public QObject
{
    Q_OBJECT
public:
    static constexpr int16_t kWarningThreshold = 20;
    // How long a new log's header waits for the settings reply.
    static constexpr std::chrono::milliseconds kSettingsWait{2000};
    static const char* const kWarningCaption;
    static const char* const kWarningText;

    // Owns the view.
    LogControl(DeviceRecord& device, std::unique_ptr<LogView> view, std::function<void()> requestSettings,
               QObject* parent = nullptr);
    ~LogControl() override;

    void btnLogFileClick();
    void btnLogModeClick();

    // Link thread: for every decoded packet, after the channel-information
    // bookkeeping.
    void handOff(const PacketRecord& packet);

    // Window thread: nullopt until the first logging run.
    std::optional<int32_t> fileSizeKB();

    // Program exit: stops the writer and waits until everything posted is on
    // disk.
    void shutdown();

    bool logging() const { return m_logging.load(); }
    // The writer the link thread posts to; null while one is being made.
    TLog_Router* writer() const { return m_writer.load(); }
    // Measurement packets logged without channel information since the
    // warning was last dismissed.
    int16_t unloggedScanCount() const { return m_unloggedScanCount.load(); }
    // The warning dialog's OK: the count starts again.
    void resetUnloggedScans() { m_unloggedScanCount.store(0); }
    LogView* view() const { return m_view.get(); }
    // The writer's notices shown so far (the file cut back, started again,
    // packets dropped), newest last.
    const QStringList& notices() const { return m_notices; }
    void setSettingsWait(std::chrono::milliseconds wait) { m_settingsWait = wait; }

signals:
    // The writer and link threads' hand-overs, queued to the window thread
    // as signals: Qt copies the arguments itself, so thread checkers see the
    // order too, which they do not for a posted lambda's captures.
    void writerFailedQueued(quintptr writer, const QString& message, QPrivateSignal);
    void noticeQueued(const QString& message, QPrivateSignal);
    void warningQueued(QPrivateSignal);

private:
    void startLogging();
    void stopLogging();
    void raiseWarning();
    void writerFailed(TLog_Router* writer, const QString& message);
    void showNotice(const QString& message);

    DeviceRecord& m_device;
    std::unique_ptr<LogView> m_view;
    std::function<void()> m_requestSettings;

    std::atomic<bool> m_logging{false};
    std::atomic<TLog_Router*> m_writer{nullptr};
    std::atomic<int16_t> m_unloggedScanCount{0};
    std::atomic<bool> m_warningPending{false};
    // Writers live until the log control goes, because the link thread may
    // still hold a pointer to the last one.
    std::vector<std::unique_ptr<TLog_Router>> m_writers;
    QStringList m_notices;
    std::chrono::milliseconds m_settingsWait = kSettingsWait;
};
