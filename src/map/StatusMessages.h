#pragma once

#include <QString>

#include <cstdint>
#include <optional>

// What tavrix-map's status bar says, one message at a time: an error stays
// until its time is up, whatever notices come meanwhile; a notice replaces
// an earlier notice. Times are milliseconds on any steady clock.
class StatusMessages
{
public:
    enum class Kind { Notice, Error };

    void post(const QString& text, Kind kind, int64_t nowMs, int64_t forMs);
    // The message to show now; empty when none.
    QString current(int64_t nowMs) const;
    // When current() next changes; nothing when no message is shown.
    std::optional<int64_t> nextChange(int64_t nowMs) const;

private:
    struct Message
    {
        QString text;
        int64_t until = 0; // ms
    };
    Message m_error;
    Message m_notice;
};
