#include "TR_Router.h"

#include "display/ReceiverView.h"
#include "protocol/DeviceRecord.h"
#include "protocol/SampleBuffers.h"

#include <chrono>
#include <thread>

TR_Router::TR_Router(int receiverIndex, DeviceRecord& device, SampleBuffers& samples,
                     std::unique_ptr<ReceiverView> view, bool createSuspended)
    : receiverIndex(int16_t(receiverIndex))
    , m_device(device)
    , m_samples(samples)
    , m_view(std::move(view))
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

void TR_Router::Execute()
{
    Event& event = m_samples.receiverEvents[receiverIndex];
    auto nextUpdate = std::chrono::steady_clock::now();
    while (!Terminated()) {
        if (!event.wait(kWaitMs))
            continue;
        // Scan and table reports can arrive hundreds of times a second, far
        // faster than anyone reads a bar graph: at most one update a frame
        // bounds the work. The decoder goes on storing meanwhile, so what
        // arrives before the update is in it.
        const auto wait = nextUpdate - std::chrono::steady_clock::now();
        if (wait > std::chrono::steady_clock::duration::zero() && !Terminated())
            std::this_thread::sleep_for(wait);
        if (Terminated())
            return;
        nextUpdate = std::chrono::steady_clock::now() + kMinUpdateInterval;
        // Taking the samples resets the event in the same step, so data
        // stored after it wake the next update.
        const Update update = takeUpdate();
        if (!Synchronize([&] { showUpdate(update); }))
            return;
    }
}

TR_Router::Update TR_Router::takeUpdate()
{
    const int r = receiverIndex;
    Update update;

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
    if (mapValueHook)
        mapValueHook(receiverIndex, update.frame.mapValue);
}

void TR_Router::UpdateDisplay()
{
    showUpdate(takeUpdate());
}
