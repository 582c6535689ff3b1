#pragma once

#include "platform/Event.h"
#include "protocol/RecordSlot.h"
#include "protocol/ReceiverSettings.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

// What the device has told the program about itself: serial number, receiver
// settings, clock and marker, channel information. The decoder writes it on
// the link thread; the status, display and log threads read it.
//
// The multi-byte fields live in one Data record behind one lock: writers
// change it inside edit(), readers take copies, so nobody sees a torn value.
// The counters and flags beside it are atomics that readers poll without the
// lock.
class DeviceRecord
{
public:
    static constexpr int kReceivers = 2;
    static constexpr int kClockSize = 7;

    struct Data
    {
        char serialNumber[9] = {};
        std::array<ReceiverSettings, kReceivers> receiverSettings{};
        std::array<bool, kReceivers> receiverActive{};
        uint8_t rtc[kClockSize] = {}; // seconds, minutes, hours, day, month, year - 2000, marker
        RecordSlot channelInfoRecord;
    };

    DeviceRecord() = default;
    DeviceRecord(const DeviceRecord&) = delete;
    DeviceRecord& operator=(const DeviceRecord&) = delete;

    // Runs fn(Data&) under the lock; keep it short, it blocks every reader.
    template <class Fn>
    void edit(Fn&& fn)
    {
        std::lock_guard guard(m_lock);
        fn(m_data);
    }

    // Runs fn(const Data&) under the lock: for a reader that needs several
    // fields consistent with each other without copying all of Data.
    template <class Fn>
    void read(Fn&& fn) const
    {
        std::lock_guard guard(m_lock);
        fn(m_data);
    }

    // Copies, each taken under the lock.
    Data snapshot() const;
    ReceiverSettings settingsCopy(int r) const;
    bool receiverActive(int r) const;
    std::string serialNumberText() const;
    std::string rtcDateText() const; // "MM/DD/YYYY"
    std::string rtcTimeText() const; // "HH:MM:SS"
    int markerNumber() const;

    // After a settings reply has been stored: counts the reply and, for each
    // receiver it names active, the receiver's settings generation.
    void settingsStored(const std::array<bool, kReceivers>& active);
    // Replies decoded so far; a new log's header waits for the next.
    uint32_t settingsReplies() const { return m_settingsReplies.load(); }
    // Runs fn(const Data&, channelInfoPresent) on the record as it stood when
    // the last settings reply was stored: a header written from it does not
    // depend on how many packets the decoder took before the writer woke.
    template <class Fn>
    void readAtLastReply(Fn&& fn) const
    {
        std::lock_guard guard(m_lock);
        fn(m_atReply, m_channelInfoAtReply);
    }
    // Settings replies that named receiver r active; a display retitles when it changes.
    uint32_t settingsGeneration(int r) const { return m_settingsGeneration[r].load(); }

    // Channel information (a scan channel list, the current frequency, or
    // table data, which carry their own) has arrived since it was last forgotten.
    std::atomic<uint8_t> channelInfoPresent{0};
    // The record goes with the flag, so a new log's header carries only
    // channel information that arrived after this.
    void forgetChannelInfo();

    // Set by the decoder after a clock message was stored; the status thread
    // waits on it from the program's start, so no clock message is missed.
    Event rtcEvent;

private:
    mutable std::mutex m_lock;
    Data m_data;
    Data m_atReply;                   // m_data when the last settings reply was stored
    bool m_channelInfoAtReply = false;
    std::atomic<uint32_t> m_settingsReplies{0};
    std::array<std::atomic<uint32_t>, kReceivers> m_settingsGeneration{};
};
