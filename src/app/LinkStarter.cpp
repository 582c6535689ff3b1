#include "LinkStarter.h"

#include "link/LinkSettings.h"
#include "link/TCom_Router.h"
#include "protocol/Decoder.h"
#include "protocol/MessageCodec.h"

LinkStarter::LinkStarter(DeviceRecord& device, SampleBuffers& samples, GpsRecord& gps, LinkSettings& link,
                         DecoderWindow* window, StatusView* statusView, Hooks hooks)
    : m_device(device)
    , m_samples(samples)
    , m_gps(gps)
    , m_link(link)
    , m_window(window)
    , m_statusView(statusView)
    , m_hooks(std::move(hooks))
{
}

LinkStarter::~LinkStarter() = default;

void LinkStarter::start()
{
    if (m_started)
        return;
    m_started = true;

    m_decoder = std::make_unique<Decoder>(m_device, m_samples, m_gps, [this](const PacketRecord& packet) {
        TCom_Router* link = m_linkThread.load();
        return link != nullptr && link->send(packet);
    });
    m_decoder->setWindow(m_window);
    if (m_hooks.configureDecoder)
        m_hooks.configureDecoder(*m_decoder);

    // Published before it runs, so the decoder's first reply finds it.
    Decoder* decoder = m_decoder.get();
    auto* link = new TCom_Router(m_link, [decoder](const PacketRecord& packet) {
        decoder->decodePacket(packet);
    }, true);
    link->setFrameLengths(MessageCodec::frameLengths());
    m_linkThread.store(link);
    link->start();

    if (m_statusView) {
        m_statusThread = new TMain_Router(m_device, m_link, *m_statusView, m_hooks.status, true);
        m_statusThread->start();
    }

    if (m_hooks.startGpsThread)
        m_hooks.startGpsThread();
}

void LinkStarter::terminateLink()
{
    if (m_link.linkKind.load() != LinkSettings::kSerial)
        return;
    if (TCom_Router* link = m_linkThread.load())
        link->Terminate();
}
