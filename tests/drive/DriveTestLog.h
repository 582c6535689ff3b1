#pragma once

#include "drive/DriveSink.h"
#include "gps/GpsTestMessage.h"
#include "log/KlfHeader.h"
#include "log/LogTestUtil.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

// Builds .KLF logs record by record for the drive model's tests.
class DriveTestLog
{
public:
    // Band of the emulator: 851.000 MHz in 25 kHz steps (6400/256 kHz).
    static constexpr uint32_t kLowEdge = 34040;
    static constexpr uint32_t kHighEdge = 34400;
    static constexpr uint16_t kStep25k = 6400;

    static std::array<uint8_t, 12> block(uint32_t low, uint32_t high, uint16_t stepRaw, uint8_t flags = 0)
    {
        std::array<uint8_t, 12> b{};
        for (int i = 0; i < 4; ++i) {
            b[size_t(i)] = uint8_t(low >> (8 * i));
            b[size_t(4 + i)] = uint8_t(high >> (8 * i));
        }
        b[8] = uint8_t(stepRaw & 0xFF);
        b[9] = uint8_t(stepRaw >> 8);
        b[10] = flags;
        return b;
    }

    DriveTestLog& header(uint8_t activeFlags = 0x03, const std::vector<uint8_t>& channelInfo = {})
    {
        KlfHeader h;
        h.serialNumber = "AB123456";
        h.receiverActive = {(activeFlags & 1) != 0, (activeFlags & 2) != 0};
        h.settingsBlocks[0] = block(kLowEdge, kHighEdge, kStep25k);
        h.settingsBlocks[1] = block(kLowEdge, kHighEdge, kStep25k);
        h.channelInfo = channelInfo;
        const auto b = h.bytes();
        bytes.insert(bytes.end(), b.begin(), b.end());
        return *this;
    }

    DriveTestLog& record(uint8_t type, const std::vector<uint8_t>& payload)
    {
        const auto r = makeRecord(type, payload);
        bytes.insert(bytes.end(), r.begin(), r.end());
        return *this;
    }

    static std::vector<uint8_t> gpsPayload(double lat, double lon, uint8_t statusByte = 0xE0, int second = 0,
                                           int minute = 0, int heightCm = 0)
    {
        GpsTestMessage m;
        m.u8(4, 3).u8(5, 9).be16(6, 2004).u8(8, 12).u8(9, uint8_t(minute)).u8(10, uint8_t(second));
        m.be32(31, int32_t(std::llround(lat * 3600000.0))).be32(35, int32_t(std::llround(lon * 3600000.0)));
        m.be32(43, heightCm).be16(49, 1250).be16(51, 900).u8(56, 7).u8(129, statusByte);
        return {m.bytes.begin(), m.bytes.end()};
    }

    DriveTestLog& gps(double lat, double lon, int second = 0, uint8_t statusByte = 0xE0)
    {
        return record(0, gpsPayload(lat, lon, statusByte, second));
    }

    // A 3D fix at 12:minute:second UTC on the ninth of March of year.
    DriveTestLog& gpsAt(double lat, double lon, int year, int minute, int second)
    {
        auto p = gpsPayload(lat, lon, 0xE0, second, minute);
        p[6] = uint8_t(year >> 8);
        p[7] = uint8_t(year & 0xFF);
        return record(0, p);
    }

    // A 3D fix (or the status byte's) at a second of the ninth of March 2004, UTC.
    DriveTestLog& gpsAtSecond(double lat, double lon, int secondOfDay, uint8_t statusByte = 0xE0)
    {
        auto p = gpsPayload(lat, lon, statusByte, secondOfDay % 60, secondOfDay / 60 % 60);
        p[8] = uint8_t(secondOfDay / 3600);
        return record(0, p);
    }

    static std::vector<uint8_t> le32s(std::initializer_list<uint32_t> values)
    {
        std::vector<uint8_t> p;
        for (uint32_t v : values)
            for (int i = 0; i < 4; ++i)
                p.push_back(uint8_t(v >> (8 * i)));
        return p;
    }

    DriveTestLog& currentFrequency(uint32_t r1, uint32_t r2) { return record(5, le32s({r1, r2})); }

    // Slot s of receiver r is lowEdge + 10 * r + s.
    DriveTestLog& scanChannelList(uint32_t low = kLowEdge)
    {
        std::vector<uint8_t> p;
        for (uint32_t r = 0; r < 2; ++r)
            for (uint32_t s = 0; s < 10; ++s) {
                const auto v = le32s({low + 10 * r + s});
                p.insert(p.end(), v.begin(), v.end());
            }
        return record(6, p);
    }

    DriveTestLog& receiverSetup(uint8_t flags, const std::array<uint8_t, 12>& b0, const std::array<uint8_t, 12>& b1)
    {
        std::vector<uint8_t> p{flags};
        p.insert(p.end(), b0.begin(), b0.end());
        p.insert(p.end(), b1.begin(), b1.end());
        return record(1, p);
    }

    // Five entries; missing ones repeat the last, as the device pads.
    DriveTestLog& scan(std::vector<std::array<int, 3>> entries)
    {
        std::vector<uint8_t> p;
        for (size_t i = 0; i < 5; ++i) {
            const auto& e = entries[std::min(i, entries.size() - 1)];
            p.push_back(uint8_t(e[0]));
            p.push_back(uint8_t(e[1]));
            p.push_back(uint8_t(int8_t(e[2])));
        }
        return record(7, p);
    }

    DriveTestLog& table(std::vector<std::array<int, 3>> entries)
    {
        std::vector<uint8_t> p;
        for (size_t i = 0; i < 4; ++i) {
            const auto& e = entries[std::min(i, entries.size() - 1)];
            p.push_back(uint8_t(e[0]));
            p.push_back(uint8_t(e[1] & 0xFF));
            p.push_back(uint8_t(e[1] >> 8));
            p.push_back(uint8_t(int8_t(e[2])));
        }
        return record(9, p);
    }

    DriveTestLog& single(int receiver, std::vector<int> samples)
    {
        std::vector<uint8_t> p;
        for (int s : samples)
            p.push_back(uint8_t(int8_t(s)));
        return record(receiver == 0 ? 2 : 3, p);
    }

    std::string write(const std::string& path) const
    {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
        return path;
    }

    std::vector<uint8_t> bytes;
};

// Keeps everything a reader hands over, in order.
class RecordingSink : public DriveSink
{
public:
    struct Event
    {
        bool isFix = false;
        DriveFix fix;
        DriveSample sample;
    };

    void fix(const DriveFix& f) override
    {
        fixes.push_back(f);
        events.push_back({true, f, {}});
    }
    void sample(const DriveSample& s) override
    {
        samples.push_back(s);
        events.push_back({false, {}, s});
    }

    std::vector<DriveFix> fixes;
    std::vector<DriveSample> samples;
    std::vector<Event> events;
};
