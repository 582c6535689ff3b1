#include "DeviceRecord.h"

#include <cstdio>
#include <cstring>

DeviceRecord::Data DeviceRecord::snapshot() const
{
    std::lock_guard guard(m_lock);
    return m_data;
}

ReceiverSettings DeviceRecord::settingsCopy(int r) const
{
    std::lock_guard guard(m_lock);
    return m_data.receiverSettings[r];
}

bool DeviceRecord::receiverActive(int r) const
{
    std::lock_guard guard(m_lock);
    return m_data.receiverActive[r];
}

std::string DeviceRecord::serialNumberText() const
{
    std::lock_guard guard(m_lock);
    return std::string(m_data.serialNumber, strnlen(m_data.serialNumber, 8));
}

std::string DeviceRecord::rtcDateText() const
{
    std::lock_guard guard(m_lock);
    const uint8_t* rtc = m_data.rtc;
    char text[32];
    std::snprintf(text, sizeof text, "%02d/%02d/%04d", rtc[4], rtc[3], 2000 + rtc[5]);
    return text;
}

std::string DeviceRecord::rtcTimeText() const
{
    std::lock_guard guard(m_lock);
    const uint8_t* rtc = m_data.rtc;
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", rtc[2], rtc[1], rtc[0]);
    return text;
}

int DeviceRecord::markerNumber() const
{
    std::lock_guard guard(m_lock);
    return m_data.rtc[6];
}

void DeviceRecord::settingsStored(const std::array<bool, kReceivers>& active)
{
    {
        std::lock_guard guard(m_lock);
        m_atReply = m_data;
        m_channelInfoAtReply = channelInfoPresent.load() != 0;
    }
    for (int r = 0; r < kReceivers; ++r) {
        if (active[r])
            ++m_settingsGeneration[r];
    }
    ++m_settingsReplies;
}

void DeviceRecord::forgetChannelInfo()
{
    {
        std::lock_guard guard(m_lock);
        m_data.channelInfoRecord.count = 0;
    }
    channelInfoPresent.store(0);
}
