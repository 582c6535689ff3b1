#pragma once

#include "drive/DriveFilter.h"
#include "drive/DrivePass.h"
#include "drive/DriveSink.h"
#include "drive/DriveSummary.h"
#include "log/KlfFollower.h"

#include <cstdint>
#include <memory>
#include <string>

// A drive followed while the logger writes its log: each update() takes
// the records that are whole and hands the sink what they make placeable,
// through the very pass DriveReader reads a whole file with. Followed to the
// end and finished, a log gives the sink the same fixes and samples in the
// same order, and the same summary, as DriveReader gives for the file
// afterwards; at any moment what was handed over is the start of that.
//
// offset() is where the records taken so far end. An uploader that records
// it after handing on what the sink got can resume there later: open(offset)
// walks the log again from its start without handing anything to the sink
// until it reaches the offset, then goes on as if it had never stopped.
// The drive state at an offset (the receivers' settings since the header,
// the GPS decoder, which carries fields over from earlier messages, the
// last used fix, the samples still waiting for the next one) depends on
// everything before it; walking again costs a read of the log up to the
// offset (some 50 MB a second: seconds for a day at the line rate) and
// needs nothing stored but the offset, nor kept in step with the model.
// Samples waiting at the offset were not handed over before it, so they
// are after.
//
// Waiting is the log's: log().wait() or log().descriptor(), then update().
class DriveFollower
{
public:
    using Change = KlfFollower::Change;

    // sink and filter outlive the follower.
    DriveFollower(std::string path, DriveSink& sink, const DriveFilter& filter = {});
    ~DriveFollower();

    // Follows the file now at the name from its start (again), taking what
    // is whole already. resumeAt: an earlier follower's offset() on the same
    // log; what the records up to it gave is not handed over again. False with summary().error set when the
    // file cannot be opened, or does not end a record at resumeAt (it is not
    // that log, or not yet as long).
    bool open(uint64_t resumeAt = 0);
    // Takes every record that is whole now; what happened to the log since
    // the last look (Replaced: open() follows the new one).
    Change update();
    // The log is finished (the logger closed it for good): the rest is read
    // as a whole read would, and the samples after the last used fix go to
    // the sink unplaced. Nothing more is taken after. A log that may still
    // grow (logging continued later into the same file) is left unfinished
    // when following stops: a follower resumed at offset() then places the
    // waiting samples once the next fix comes, as a whole read of the grown
    // log does, instead of their going out twice.
    const DriveSummary& finish();

    // Counts over the whole log so far, resumed or not.
    const DriveSummary& summary() const { return m_summary; }
    // The end of the last whole record taken.
    uint64_t offset() const { return m_log.offset(); }
    // Samples taken but not yet handed over: waiting for the next used fix.
    size_t waiting() const { return m_pass ? m_pass->waiting() : 0; }
    bool finished() const { return m_finished; }
    KlfFollower& log() { return m_log; }

private:
    // Passes the sink only what the records after the resume offset give.
    class Gate : public DriveSink
    {
    public:
        explicit Gate(DriveSink& to) : m_to(to) {}
        void fix(const DriveFix& f) override
        {
            if (open)
                m_to.fix(f);
        }
        void sample(const DriveSample& s) override
        {
            if (open)
                m_to.sample(s);
        }
        bool open = true;

    private:
        DriveSink& m_to;
    };

    void take();
    void takeHeader();
    void refreshSummary();

    KlfFollower m_log;
    const DriveFilter m_filter;
    Gate m_gate;
    DriveSummary m_summary;
    std::unique_ptr<DrivePass> m_pass;
    uint64_t m_resumeAt = 0;
    bool m_headerTaken = false;
    bool m_finished = false;
    bool m_wrongResume = false; // nothing more is taken
};
