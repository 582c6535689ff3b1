#pragma once

#include <QString>

#include <functional>
#include <optional>

// What the log control sees of the window: the log file name, the Log Data
// button, the warning dialog and the message boxes. The window implements
// it, so the log control is tested without widgets. Every call is on the
// window thread.
class LogView
{
public:
    virtual ~LogView() = default;

    virtual QString logFileName() const = 0;
    virtual void setLogFileName(const QString& name) = 0;
    // The name cannot be changed while a log is written.
    virtual void setLogFileEditable(bool editable) = 0;
    // Log Data: pressed by the user, released when logging cannot go on.
    virtual bool logModeChecked() const = 0;
    virtual void releaseLogMode() = 0;

    // The dialog shown when logging starts, telling how to get the channel
    // information into the log.
    virtual void showLogWarning() = 0;
    virtual void hideLogWarning() = 0;

    // A file failure; logging has stopped. A new one replaces the text of a
    // box still open.
    virtual void showError(const QString& message) = 0;
    // What happened to the file while logging goes on.
    virtual void showNotice(const QString& message) = 0;
    // The missing-channel-information warning, without waiting for it;
    // dismissed runs when the user dismisses it.
    virtual void showScanWarning(const QString& caption, const QString& text, std::function<void()> dismissed) = 0;

    // The log file picker, starting at current; nothing if cancelled.
    virtual std::optional<QString> chooseLogFile(const QString& current) = 0;
};
