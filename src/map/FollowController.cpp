#include "FollowController.h"

#include "AcceptancePanel.h"
#include "CoverageController.h"
#include "MapAcceptanceLoader.h"
#include "MapView.h"
#include "coverage/CoverageCells.h"

#include <QDockWidget>
#include <QFileInfo>
#include <QMainWindow>

namespace {
constexpr int kNoticeMs = 10000;
constexpr int kErrorMs = 30000;
} // namespace

FollowController::FollowController(QMainWindow* window, MapView* view, CoverageController* coverage)
    : QObject(window), m_view(view), m_coverage(coverage), m_feed(new LogFollowFeed(this)),
      m_mapLoader(new MapAcceptanceLoader(this)),
      m_panel(new AcceptancePanel), m_dock(new QDockWidget(tr("Acceptance"), window))
{
    m_dock->setObjectName(QStringLiteral("acceptanceDock"));
    m_dock->setAccessibleName(tr("Acceptance test, running figures"));
    m_panel->setAccessibleName(tr("Running figures of the acceptance test"));
    m_dock->setWidget(m_panel);
    window->addDockWidget(Qt::RightDockWidgetArea, m_dock);
    m_dock->hide();
    connect(m_feed, &LogFollowFeed::arrived, this, &FollowController::onArrived);
    connect(m_coverage, &CoverageController::choiceChanged, this, [this] {
        if (!m_tiler)
            return;
        refreshAcceptance();
        m_view->update();
    });
    connect(m_coverage, &CoverageController::opened, this, [this](const QString& path, const QString& error) {
        // Opening took the tiles away; a map that failed to open leaves the
        // one drawn before, whose tiles come back with it.
        const QString drawn = error.isEmpty() ? path : m_coverage->path();
        if (m_mapOptions && drawn != m_mapSource && CoverageController::isCoverageFile(drawn))
            showMap(drawn);
    });
    connect(m_coverage, &CoverageController::sharedMapChanged, this, &FollowController::readMapAgain);
    connect(m_mapLoader, &MapAcceptanceLoader::finished, this, &FollowController::onMapRead);
}

// The view may be gone already: the window deletes its children in turn.
FollowController::~FollowController()
{
    stop();
}

void FollowController::start(const Options& options)
{
    stop();
    m_mapOptions.reset();
    m_mapLoader->cancel();
    m_mapSource.clear();
    m_panel->setNearestShown(true);
    m_options = options;
    m_name = QFileInfo(options.path).fileName();
    m_tiler = options.acceptance ? std::make_unique<AcceptanceTiler>(options.tiler, options.area.empty() ? nullptr : &m_options.area)
                                 : nullptr;
    m_layer = AcceptanceLayer();
    if (m_tiler) {
        m_layer.setArea(m_options.area);
        AcceptancePanel::Requirement r;
        r.reliability = options.tiler.requiredReliability;
        r.confidence = options.confidence;
        r.thresholdDbm = options.tiler.thresholdDbm;
        m_panel->setRequirement(r);
    }
    m_dock->setVisible(bool(m_tiler));
    m_view->setAcceptance(m_tiler ? &m_layer : nullptr);
    m_fitted = false;
    m_openedSaid = false;
    restart();
    if (m_tiler && !m_options.area.empty()) {
        // The area is there before the first sample: the crew sees where to go.
        m_view->viewport().fit(m_layer.worldBounds());
        m_view->update();
    }
    LogFollowFeed::Settings s;
    s.path = options.path;
    s.cellMetres = options.cellMetres;
    s.tileMetres = options.tiler.tileMetres;
    m_feed->start(s);
}

void FollowController::stop()
{
    m_feed->stop();
}

void FollowController::close()
{
    stop();
    m_mapLoader->cancel();
    m_mapSource.clear();
    m_view->setAcceptance(nullptr);
    m_dock->hide();
    m_tiler.reset();
}

bool FollowController::running() const
{
    return m_feed->running();
}

void FollowController::testMaps(const Options& options)
{
    m_mapOptions = options;
}

bool FollowController::testingMap() const
{
    return m_mapLoader->busy();
}

// The area's outline is drawn at once; the tiles once the map is read.
void FollowController::showMap(const QString& source)
{
    stop();
    m_options = *m_mapOptions;
    m_mapSource = source;
    m_tiler.reset();
    m_tiles = {};
    m_section.reset();
    m_nearest.reset();
    m_lastFix.reset();
    m_layer = AcceptanceLayer();
    m_layer.setArea(m_options.area);
    AcceptancePanel::Requirement r;
    r.reliability = m_options.tiler.requiredReliability;
    r.confidence = m_options.confidence;
    r.thresholdDbm = m_options.tiler.thresholdDbm;
    m_panel->setRequirement(r);
    m_panel->setNearestShown(false);
    m_panel->showProblem(tr("Reading the map's tiles…"));
    m_dock->show();
    m_view->setAcceptance(&m_layer);
    readMapAgain();
}

// Uploads committed to the shared map tested, or it is first shown.
void FollowController::readMapAgain()
{
    if (m_mapSource.isEmpty() || m_coverage->path() != m_mapSource)
        return;
    m_mapLoader->start(m_mapSource, m_options.tileGiven ? std::optional<double>(m_options.tiler.tileMetres) : std::nullopt);
}

void FollowController::onMapRead()
{
    MapAcceptanceLoader::Result r = m_mapLoader->takeResult();
    if (r.source != m_mapSource)
        return;
    std::unique_ptr<AcceptanceTiler> tiler;
    // A shared map read again has the tiles it had: the area is not cut into them again.
    if (r.error.isEmpty() && !(m_tiler && r.tileMetres == m_mapTileMetres)) {
        AcceptanceTiler::Settings s = m_options.tiler;
        s.tileMetres = r.tileMetres;
        tiler = std::make_unique<AcceptanceTiler>(s, m_options.area.empty() ? nullptr : &m_options.area);
        if (!m_options.area.empty() && tiler->areaTiles().empty())
            r.error = tr("the area holds no %1 m tile: no tile's centre lies inside it").arg(r.tileMetres);
    }
    if (!r.error.isEmpty()) {
        // Tiles drawn before stay: the next upload or reconnection reads again.
        const QString text = m_tiler ? tr("Could not read the map's acceptance tiles again: %1").arg(r.error)
                                     : tr("Cannot test this map: %1").arg(r.error);
        if (!m_tiler)
            m_panel->showProblem(text);
        emit message(text, StatusMessages::Kind::Error, kErrorMs);
        emit mapTested(r.error);
        return;
    }
    if (tiler) {
        m_tiler = std::move(tiler);
        m_mapTileMetres = r.tileMetres;
    }
    m_tiles = std::move(r.input);
    refreshAcceptance();
    m_view->update();
    emit mapTested(QString());
}

QString FollowController::describe() const
{
    return tr("Following %1: %n record(s)", nullptr, int(std::min<uint64_t>(m_records, INT32_MAX))).arg(m_name);
}

// Everything drawn of the log before goes: another log is at its name.
void FollowController::restart()
{
    m_view->clear();
    m_coverage->startLive(m_name);
    m_tiles = {};
    m_section.reset();
    m_nearest.reset();
    m_lastFix.reset();
    m_serial.clear();
    m_records = 0;
    if (m_tiler)
        refreshAcceptance();
}

void FollowController::onArrived()
{
    std::vector<FollowBatch> batches = m_feed->take();
    for (FollowBatch& b : batches)
        apply(b);
    if (batches.empty())
        return;
    m_view->update();
    emit updated();
}

void FollowController::apply(FollowBatch& b)
{
    if (b.restart)
        restart();
    if (!b.message.isEmpty()) {
        const bool error = b.event == FollowBatch::Event::Stopped;
        emit message(b.message, error ? StatusMessages::Kind::Error : StatusMessages::Kind::Notice,
                     error ? kErrorMs : kNoticeMs);
    }
    if (!b.points.empty()) {
        // A catch-up brings a long log's dots at once: all but the last go
        // straight into the layer, the last through the view, which then
        // fits or follows once.
        auto& layers = m_view->layers();
        if (layers.empty() || layers.back().name() != m_name)
            layers.emplace_back(m_name, m_view->legend());
        layers.back().reserve(layers.back().size() + b.points.size());
        for (size_t i = 0; i + 1 < b.points.size(); ++i)
            layers.back().add(b.points[i]);
        m_view->addLivePoint(m_name, b.points.back());
    }
    m_coverage->updateLive(b.cells);
    for (FollowBatch::Tile& t : b.tiles)
        m_tiles.channel(t.receiver, t.frequency).tiles[t.key].histogram = std::move(t.histogram);
    for (const FollowBatch::ChannelNumber& c : b.channels)
        m_tiles.channel(c.receiver, c.frequency).channel = c.channel;
    if (b.lastFix)
        m_lastFix = b.lastFix;
    if (!b.serialNumber.isEmpty())
        m_serial = b.serialNumber;
    m_records = b.records;
    if (m_tiler && (!b.tiles.empty() || b.lastFix))
        refreshAcceptance();
    if (!m_fitted && !b.points.empty()) {
        m_fitted = true;
        QRectF bounds;
        for (const PointLayer& l : m_view->layers())
            bounds = bounds.isNull() ? l.worldBounds() : bounds.united(l.worldBounds());
        if (m_tiler && !m_options.area.empty())
            bounds = bounds.united(m_layer.worldBounds());
        m_view->viewport().fit(bounds);
    }
    if (b.event == FollowBatch::Event::Opened && !m_openedSaid) {
        m_openedSaid = true;
        m_view->update();
        emit opened();
    }
}

// The chosen receiver and frequency's test, as klf-report makes it: one
// receiver's readings, or both pooled ("Both"); with every frequency
// chosen, the first the log holds.
void FollowController::refreshAcceptance()
{
    const int receiver = m_coverage->chosenReceiver();
    const double mhz = m_coverage->chosenFrequency();
    std::optional<int64_t> frequency;
    if (mhz > 0)
        frequency = CoverageCells::frequencyKey(mhz);
    else
        for (const auto& [key, c] : m_tiles.channels)
            if (receiver == 0 || c.receiver == receiver) {
                frequency = c.frequency;
                break;
            }
    m_section.reset();
    if (frequency) {
        if (receiver == 0) {
            AcceptanceInput pooled;
            for (const auto& [key, c] : m_tiles.channels)
                if (c.frequency == *frequency)
                    pooled.channels.emplace(key, c);
            pooled.poolReceivers();
            if (!pooled.channels.empty())
                m_section = m_tiler->section(pooled.channels.begin()->second);
        } else if (const auto it = m_tiles.channels.find({receiver, *frequency}); it != m_tiles.channels.end()) {
            m_section = m_tiler->section(it->second);
        }
    }
    // Nothing of the channel driven: the area's tiles as they are, not driven.
    m_layer.setTiles(m_section ? m_section->tiles : m_tiler->areaTiles());
    m_panel->showSection(m_section ? &*m_section : nullptr);
    m_nearest.reset();
    if (m_lastFix && !m_options.area.empty())
        m_nearest = NearestUndriven::find(m_section ? m_section->tiles : m_tiler->areaTiles(), m_lastFix->latitude,
                                          m_lastFix->longitude);
    m_panel->showNearest(m_nearest, m_lastFix.has_value(), !m_options.area.empty());
}
