#pragma once

#include "drive/DriveSample.h"

#include <cstdio>
#include <functional>
#include <vector>

// The samples waiting for the next used fix, in record order. A long gap in
// the GPS (a tunnel, a lost antenna) can hold millions of them, so past a
// fixed number they go to an unnamed temporary file: memory stays bounded
// whatever the log holds.
class SampleQueue
{
public:
    static constexpr size_t kInMemory = 65536;

    SampleQueue() = default;
    explicit SampleQueue(size_t inMemory) : m_limit(inMemory) {}
    ~SampleQueue();
    SampleQueue(const SampleQueue&) = delete;
    SampleQueue& operator=(const SampleQueue&) = delete;

    void push(const DriveSample& sample)
    {
        // Millions of samples pass through here: the common case inline.
        if (m_memory.size() < m_limit)
            m_memory.push_back(sample);
        else
            spillAndPush(sample);
    }
    // Hands every queued sample to f in the order pushed and empties the
    // queue. False when the temporary file failed (the samples spilled to it
    // are lost). A template so the per-sample call can be inlined.
    template <class F>
    bool drain(F&& f)
    {
        const bool ok = drainSpilled(std::function<void(DriveSample&)>(std::ref(f)));
        for (DriveSample& s : m_memory)
            f(s);
        m_memory.clear();
        return ok;
    }

    size_t size() const { return m_memory.size() + m_spilled; }
    bool empty() const { return size() == 0; }
    bool spilled() const { return m_spilled > 0; }

private:
    void spillAndPush(const DriveSample& sample);
    // The spilled samples to f, the file emptied; false when it failed.
    bool drainSpilled(const std::function<void(DriveSample&)>& f);

    size_t m_limit = kInMemory;
    std::vector<DriveSample> m_memory;
    std::FILE* m_spill = nullptr;
    size_t m_spilled = 0; // samples in the file, which come before those in memory
    bool m_spillFailed = false;
};
