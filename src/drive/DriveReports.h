#pragma once

#include "log/KlfStream.h"
#include "protocol/ReceiverSettings.h"
#include "protocol/SampleReport.h"

#include <array>
#include <cstdint>
#include <vector>

class KlfPullReader;

// A log's measurement records as the live scan history gets them from the
// decoder: a report for each receiver a record reached, and the receiver's
// settings whenever its channels change, so a history built from a stretch
// of a log shows what the logger showed while it was recorded.
//
// It can start anywhere: the receivers' state at a record is small, so an
// index keeps it at intervals and a reader resumes from there.
class DriveReports
{
public:
    // What the log has said about the receivers up to some record.
    struct Receivers
    {
        std::array<ReceiverSettings, 2> settings{};
        // A log without a header says nothing until its first ReceiverSetup:
        // both count as active.
        std::array<bool, 2> active{true, true};
    };

    struct Report
    {
        uint64_t record = 0; // index among the log's packet records
        uint8_t receiver = 0;
        // The receiver's current frequency at this record, in channel steps:
        // the channel of a single block.
        uint32_t current = 0;
        SampleReport report;
    };

    // From a log's header (its receivers and their blocks, its channel information).
    void header(const KlfPullReader& in);
    void resume(const Receivers& receivers) { m_receivers = receivers; }
    const Receivers& receivers() const { return m_receivers; }

    // Steps the state over one record with a good checksum; with out, appends
    // the reports it makes (times left at 0).
    void take(const KlfStream::Record& record, uint64_t index, std::vector<Report>* out);
    // The settings in force, one Settings report per receiver: the start of a history.
    void settingsReports(uint64_t index, std::vector<Report>& out) const;

private:
    void channelInformation(uint8_t type, std::span<const uint8_t> payload, uint64_t index, std::vector<Report>* out);
    void settingsReport(int receiver, uint64_t index, std::vector<Report>& out) const;

    Receivers m_receivers;
};
