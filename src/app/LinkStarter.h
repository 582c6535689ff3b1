#pragma once

#include "TMain_Router.h"

#include <atomic>
#include <functional>
#include <memory>

class Decoder;
class DecoderWindow;
class DeviceRecord;
class GpsRecord;
class LinkSettings;
class SampleBuffers;
class StatusView;
class TCom_Router;

// What confirming the port dialog starts, in this order: the decoder and the
// link thread that feeds it, the status thread, then the GPS thread. It owns
// the link and status threads (never freed: joined at exit like every
// worker).
class LinkStarter
{
public:
    // Where the other parts join what start() makes.
    struct Hooks
    {
        // Called with the decoder before the link thread starts (logging hand-off).
        std::function<void(Decoder&)> configureDecoder;
        TMain_Router::Hooks status;
        // Last: the GPS thread.
        std::function<void()> startGpsThread;
    };

    // window and statusView outlive the threads; without a statusView no
    // status thread is started.
    LinkStarter(DeviceRecord& device, SampleBuffers& samples, GpsRecord& gps, LinkSettings& link,
                DecoderWindow* window, StatusView* statusView, Hooks hooks);
    ~LinkStarter();

    // Once; later calls do nothing.
    void start();
    bool started() const { return m_started; }
    Decoder* decoder() const { return m_decoder.get(); }
    TCom_Router* linkThread() const { return m_linkThread.load(); }
    TMain_Router* statusThread() const { return m_statusThread; }
    LinkSettings& linkSettings() const { return m_link; }

    // Window thread, at close: the serial link's thread is told to stop; the
    // USB link's is left to the final join.
    void terminateLink();

private:
    DeviceRecord& m_device;
    SampleBuffers& m_samples;
    GpsRecord& m_gps;
    LinkSettings& m_link;
    DecoderWindow* const m_window;
    StatusView* const m_statusView;
    const Hooks m_hooks;
    std::unique_ptr<Decoder> m_decoder;
    // Read by the decoder's sends, from the link thread and the window.
    std::atomic<TCom_Router*> m_linkThread{nullptr};
    TMain_Router* m_statusThread = nullptr;
    bool m_started = false;
};
