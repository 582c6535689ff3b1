#pragma once

#include "TMain_Router.h"

#include <functional>
#include <memory>

class Decoder;
class DecoderWindow;
class GpsRecord;
class LinkSettings;
class MeasurementState;

// What confirming the port dialog starts, in this order: the decoder and the
// link thread that feeds it, the status thread, then the GPS thread. The
// hooks are where the other parts join at integration; set them before
// start().
class LinkStarter
{
public:
    LinkStarter(MeasurementState& state, GpsRecord& gps, LinkSettings& link);
    ~LinkStarter();

    DecoderWindow* window = nullptr;
    StatusControls statusControls;
    TMain_Router::Hooks statusHooks;
    // Called with the decoder before the link thread starts (logging hand-off).
    std::function<void(Decoder&)> configureDecoder;
    std::function<void()> startGpsThread;

    // Once; later calls do nothing.
    void start();
    bool started() const { return m_started; }
    Decoder* decoder() const { return m_decoder.get(); }

private:
    MeasurementState& m_state;
    GpsRecord& m_gps;
    LinkSettings& m_link;
    std::unique_ptr<Decoder> m_decoder;
    bool m_started = false;
};
