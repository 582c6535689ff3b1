#include "LinkStarter.h"

#include "link/LinkSettings.h"
#include "link/TCom_Router.h"
#include "protocol/Decoder.h"
#include "protocol/MeasurementState.h"

LinkStarter::LinkStarter(MeasurementState& state, GpsRecord& gps, LinkSettings& link)
    : m_state(state)
    , m_gps(gps)
    , m_link(link)
{
}

LinkStarter::~LinkStarter() = default;

void LinkStarter::start()
{
    if (m_started)
        return;
    m_started = true;

    m_decoder = std::make_unique<Decoder>(m_state, m_gps, [](const PacketRecord& packet) {
        TCom_Router* link = linkThread.load();
        return link != nullptr && link->send(packet);
    });
    m_decoder->setWindow(window);
    if (configureDecoder)
        configureDecoder(*m_decoder);

    // Published before it runs, so the decoder's first reply finds it.
    Decoder* decoder = m_decoder.get();
    auto* link = new TCom_Router(m_link, [decoder](const PacketRecord& packet) {
        decoder->decodePacket(packet);
    }, true);
    linkThread.store(link);
    link->start();

    auto* status = new TMain_Router(m_state, m_link, statusControls, statusHooks, true);
    m_state.statusThread.store(status);
    status->start();

    if (startGpsThread)
        startGpsThread();
}
