#include "LiveController.h"

#include "LivePointFeed.h"
#include "MapView.h"

LiveController::LiveController(MapView* view, QString blockName, QObject* parent)
    : QObject(parent)
    , m_view(view)
    , m_blockName(std::move(blockName))
{
}

LiveController::~LiveController() = default;

void LiveController::start(bool poll)
{
    m_view->clear();
    m_serial.clear();
    m_feed = std::make_unique<LivePointFeed>(m_blockName);
    connect(m_feed.get(), &LivePointFeed::pointArrived, this, [this](const LivePointFeed::Point& p) {
        m_serial = p.serial;
        m_view->setLegend(p.palette);
        m_view->addLivePoint(p.serial, p.point);
        emit pointShown();
    });
    connect(m_feed.get(), &LivePointFeed::blockRejected, this, &LiveController::blockRejected);
    m_feed->start(poll);
}

void LiveController::stop()
{
    m_feed.reset();
}

bool LiveController::running() const
{
    return m_feed && m_feed->running();
}

bool LiveController::polling() const
{
    return m_feed && m_feed->polling();
}
