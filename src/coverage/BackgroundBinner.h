#pragma once

#include "coverage/CoverageBinner.h"
#include "drive/DriveSink.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <future>
#include <mutex>
#include <utility>
#include <vector>

// Bins a drive on a thread of its own while DriveReader decodes the log on
// the caller's: decoding and binning each take about half of reading a log,
// so with two cores the read takes little more than the decoding alone.
// Placed samples cross in batches, in order, each fix among them where it
// came, so the binner sees exactly what DriveReader handed over (less the
// unplaced samples, which it would leave aside). A few batches at most wait
// at a time, whatever the log's size.
//
// The binning is a std::async task, as all background work in this plain
// C++ layer: what it throws comes back from finish() through its future. A
// binning that stopped takes no more batches, so the reader never waits on
// it for room.
class BackgroundBinner : public DriveSink
{
public:
    static constexpr size_t kBatch = 16384;   // samples
    static constexpr size_t kWaiting = 4;     // batches handed over and not yet binned

    explicit BackgroundBinner(CoverageBinner& binner);
    ~BackgroundBinner() override;
    BackgroundBinner(const BackgroundBinner&) = delete;
    BackgroundBinner& operator=(const BackgroundBinner&) = delete;

    void fix(const DriveFix& fix) override;
    void sample(const DriveSample& sample) override;
    // Hands over the rest and waits until the binner has had everything;
    // only then is the binner the caller's again. Throws what the binning
    // threw.
    void finish();

private:
    struct Batch
    {
        std::vector<DriveSample> samples;
        std::vector<std::pair<size_t, DriveFix>> fixes; // each before the sample at its index
    };

    void handOver();
    void run();
    void bin();

    CoverageBinner& m_binner;
    Batch m_filling;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Batch> m_waiting; // guarded by m_mutex
    std::vector<Batch> m_spare;  // binned batches to fill again; guarded by m_mutex
    bool m_done = false;         // no more batches come; guarded by m_mutex
    bool m_stopped = false;      // the binning threw; guarded by m_mutex
    std::future<void> m_binning;
};
