#pragma once

#include "drive/DriveFilter.h"
#include "drive/DriveFix.h"
#include "drive/DriveSample.h"
#include "drive/DriveSink.h"
#include "drive/DriveSummary.h"
#include "drive/FixDecoder.h"
#include "drive/SampleQueue.h"
#include "log/KlfHeader.h"
#include "log/KlfStream.h"
#include "protocol/ReceiverSettings.h"

#include <array>
#include <cstdint>
#include <span>
#include <vector>

// The drive model's one walk over a log's records, front to back, as
// DriveReader describes it: a whole file read at once and a log followed as
// it grows go through the same steps, so they hand the sink the same fixes
// and samples in the same order and count them alike. A sample goes to the
// sink once its placement is known; finish() hands over those after the
// last used fix, which only the end of the log leaves unplaced.
class DrivePass
{
public:
    // filter, sink and summary outlive the pass.
    DrivePass(const DriveFilter& filter, DriveSink& sink, DriveSummary& summary);

    // The header's receiver settings and channel information, before any record.
    void header(uint8_t receiverFlags, const std::array<KlfHeader::SettingsBlock, 2>& blocks,
                const std::vector<uint8_t>& channelInfo);
    template <class Reader>
    void header(const Reader& in)
    {
        header(in.receiverFlags(), {in.settingsBlock(0), in.settingsBlock(1)}, in.channelInfo());
    }
    // A record with a good checksum; index: its place among the log's packet records.
    void record(const KlfStream::Record& r, uint64_t index);
    // The end of the log.
    void finish();
    // Samples waiting for the next used fix.
    size_t waiting() const { return m_queue.size(); }

private:
    // What the log has told so far about one receiver.
    struct Receiver
    {
        ReceiverSettings settings;
        bool settingsKnown = false;
        bool currentKnown = false;
        bool scanKnown = false;

        // In 32 bits and extended precision: a band high up in channel steps must
        // not wrap the way the 16-bit channel numbers do.
        double mhz(uint32_t value) const
        {
            return double(static_cast<long double>(value) * settings.stepKHz * 0.001L);
        }
    };

    void channelInformation(uint8_t type, const uint8_t* p, size_t n);
    void receiverSetup(std::span<const uint8_t> p);
    void singleBlock(int r, std::span<const uint8_t> p, uint64_t index);
    void scanReport(std::span<const uint8_t> p, uint64_t index);
    void tableReport(std::span<const uint8_t> p, uint64_t index);
    void gps(std::span<const uint8_t> p, uint64_t index);
    void take(const DriveSample& s);
    void deliver(const DriveSample& s);

    const DriveFilter& m_filter;
    DriveSink& m_sink;
    DriveSummary& m_summary;
    std::array<Receiver, 2> m_receivers;
    FixDecoder m_fixes;
    DriveFix m_last;
    bool m_haveFix = false;
    SampleQueue m_queue;
};
