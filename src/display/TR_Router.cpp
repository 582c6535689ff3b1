#include "TR_Router.h"

#include "display/ReceiverView.h"
#include "protocol/DeviceRecord.h"
#include "protocol/SampleBuffers.h"

#include <chrono>

TR_Router::TR_Router(int receiverIndex, DeviceRecord& device, SampleBuffers& samples,
                     std::unique_ptr<ReceiverView> view, Hooks hooks, bool createSuspended)
    : receiverIndex(int16_t(receiverIndex))
    , m_device(device)
    , m_samples(samples)
    , m_view(std::move(view))
    , m_hooks(std::move(hooks))
{
    m_samples.receiverEvents[receiverIndex].reset();
    if (!createSuspended)
        start();
}

// Joined before the view it draws through goes.
TR_Router::~TR_Router()
{
    Terminate();
    wait();
}

// Updates fall on multiples of the interval on the steady clock, the same
// instants for both receivers: their two draws then reach the window thread
// together and go to the screen in one paint instead of two. The next slot
// is at least half an interval away, so updates stay half an interval to
// one and a half apart.
std::chrono::steady_clock::time_point TR_Router::nextSlot(std::chrono::steady_clock::time_point after,
                                                          std::chrono::milliseconds interval)
{
    using namespace std::chrono;
    if (interval <= milliseconds::zero())
        return after;
    const auto since = duration_cast<milliseconds>(after.time_since_epoch() + interval / 2);
    return steady_clock::time_point((since / interval + 1) * interval);
}

void TR_Router::Execute()
{
    Event& data = m_samples.receiverEvents[receiverIndex];
    auto nextUpdate = std::chrono::steady_clock::now();
    // The reports' storage goes back to the journal at each update, so the
    // link thread's pushes find room and never allocate once it has grown.
    std::vector<SampleReport> spare;
    while (!Terminated()) {
        // Scan and table reports can arrive hundreds of times a second, far
        // faster than anyone reads a bar graph: at most one update per
        // interval bounds the work; the decoder goes on storing meanwhile,
        // so what arrives before the update is in it. The pause comes before
        // the wait for data, which changes nothing (an update still follows
        // the later of the two), but at the line rate the data are there
        // when it ends: one wake-up per update instead of one for the data
        // and another after the pause.
        if (nextUpdate > std::chrono::steady_clock::now()) {
            m_pausing.store(true);
            const bool stop = m_stop.waitUntil(nextUpdate);
            m_pausing.store(false);
            if (stop)
                return;
        }
        if (waitAny({&data, &m_stop}, kWaitMs) != 0)
            continue;
        if (Terminated())
            return;
        nextUpdate = nextSlot(std::chrono::steady_clock::now(), minUpdateInterval);
        // Taking the samples resets the event in the same step, so data
        // stored after it wake the next update.
        Update update = takeUpdate(std::move(spare));
        if (!Synchronize([&] { showUpdate(update); }))
            return;
        spare = std::move(update.reports);
    }
}

void TR_Router::terminateRequested()
{
    m_stop.set();
}

TR_Router::Update TR_Router::takeUpdate(std::vector<SampleReport> spare)
{
    const int r = receiverIndex;
    Update update;
    update.reports = std::move(spare);

    // The generation is read before the settings, so a change that arrives
    // during this update shows at the next one.
    const uint32_t generation = m_device.settingsGeneration(r);
    const ReceiverSettings settings = m_device.settingsCopy(r);
    if (m_retitle.exchange(false) || generation != m_titleGeneration) {
        m_titleGeneration = generation;
        update.title = ReceiverBars::title(r, settings);
    }

    const ReceiverView::Options options = m_view ? m_view->options() : ReceiverView::Options{};
    const bool scanMode = options.mode == ReceiverBars::Mode::Scan;
    // Single mode shows the first scan slot until its own data arrive.
    const ReceiverSamples samples = m_samples.takeSamples(r, scanMode);
    // After the samples: a report queued meanwhile waits for the next update,
    // and is never lost.
    m_samples.reports[r].takeAll(update.reports);
    update.settings = settings;
    switch (options.mode) {
    case ReceiverBars::Mode::Single: update.frame = ReceiverBars::single(samples, settings, options.showFrequency); break;
    case ReceiverBars::Mode::Table: update.frame = ReceiverBars::table(samples, settings, options.showFrequency); break;
    case ReceiverBars::Mode::Scan: update.frame = ReceiverBars::scan(samples, settings, options.showFrequency); break;
    }
    return update;
}

void TR_Router::showUpdate(const Update& update)
{
    if (m_view)
        m_view->draw(update.frame, update.title);
    if (m_hooks.mapValue)
        m_hooks.mapValue(receiverIndex, update.frame.mapValue);
    if (m_hooks.reports && !update.reports.empty())
        m_hooks.reports(receiverIndex, update.reports, update.settings);
}

void TR_Router::UpdateDisplay()
{
    showUpdate(takeUpdate());
}
