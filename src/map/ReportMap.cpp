#include "ReportMap.h"

#include "AcceptanceLayer.h"
#include "MbTilesSource.h"
#include "NetworkTileSource.h"
#include "TileMath.h"
#include "TileServerSettings.h"
#include "coverage/AcceptanceSection.h"
#include "protocol/RssiPalette.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSettings>
#include <QTimer>

#include <cmath>
#include <set>

namespace {
constexpr int kFailureCheckMs = 100;
constexpr double kKeyWidth = 200;  // logical pixels: the acceptance key and its margins
constexpr double kKeyHeight = 130; // logical pixels, the same
constexpr double kFitMargin = 28; // logical pixels round the tiles
}

ReportMap::ReportMap() = default;
ReportMap::~ReportMap() = default;

bool ReportMap::open(Base base, const std::string& mbtiles, const std::string& url, std::string& error)
{
    m_tiles.reset();
    m_network = nullptr;
    if (base == Base::MbTiles) {
        auto source = std::make_unique<MbTilesSource>();
        if (!source->open(QString::fromStdString(mbtiles))) {
            error = "cannot open the base map " + mbtiles + ": " + source->error().toStdString();
            return false;
        }
        m_tiles = std::move(source);
    } else if (base == Base::Network) {
        const QSettings settings(QLatin1String(TileServerSettings::kOrganization),
                                 QLatin1String(TileServerSettings::kApplication));
        const auto server = TileServerSettings::server(settings, QString::fromStdString(url));
        auto source = std::make_unique<NetworkTileSource>(server.url, TileServerSettings::cacheDir(), server.attribution);
        m_network = source.get();
        m_tiles = std::move(source);
    }
    return true;
}

void ReportMap::frame(const QRectF& worldBounds, QSize size)
{
    // The key takes the bottom right corner: the tiles are fitted into the
    // view less its width, or less its height, whichever shows them larger,
    // and that part of the view is moved to the left or to the top.
    const double keyWidth = std::min(kKeyWidth, size.width() / 2.0);
    const double keyHeight = std::min(kKeyHeight, size.height() / 2.0);
    MapViewport beside = m_viewport, above = m_viewport;
    beside.setSize(QSizeF(size.width() - keyWidth, size.height()));
    beside.fit(worldBounds, 16, kFitMargin);
    above.setSize(QSizeF(size.width(), size.height() - keyHeight));
    above.fit(worldBounds, 16, kFitMargin);
    const bool sideways = beside.zoom() >= above.zoom();
    const MapViewport& chosen = sideways ? beside : above;
    const double shift = 1 / TileMath::worldSize(chosen.zoom()) / 2;
    m_viewport.setZoom(chosen.zoom());
    m_viewport.setSize(QSizeF(size));
    m_viewport.setCentre(chosen.centre() + (sideways ? QPointF(keyWidth * shift, 0) : QPointF(0, keyHeight * shift)));
}

int ReportMap::missingTiles() const
{
    if (!m_tiles)
        return 0;
    // The tiles the renderer asks for: the view's, or past the source's
    // deepest level the coarser ones it enlarges.
    const int zoom = m_viewport.zoom();
    const int over = std::max(0, zoom - m_tiles->maxZoom());
    const QPointF origin = m_viewport.topLeftPixel();
    const QSizeF size = m_viewport.size();
    const int ts = TileMath::kTileSize;
    const int last = (1 << zoom) - 1;
    const int x0 = std::max(0, int(std::floor(origin.x() / ts)));
    const int y0 = std::max(0, int(std::floor(origin.y() / ts)));
    const int x1 = std::min(last, int(std::floor((origin.x() + size.width()) / ts)));
    const int y1 = std::min(last, int(std::floor((origin.y() + size.height()) / ts)));
    std::set<std::pair<int, int>> missing;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            if (m_tiles->cached(zoom - over, x >> over, y >> over).isNull())
                missing.emplace(x >> over, y >> over);
    return int(missing.size());
}

int ReportMap::prepare(int limitMs)
{
    if (!m_network)
        return missingTiles();
    // A first frame asks for every tile in view.
    QImage probe(m_viewport.size().toSize(), QImage::Format_RGB32);
    m_renderer.render(probe, m_viewport, m_tiles.get(), {}, RssiPalette(), {});
    const int failedBefore = m_network->failures();
    // Done when every tile still missing has failed: it will not come in this run.
    auto done = [&] { return missingTiles() <= m_network->failures() - failedBefore; };
    if (done())
        return missingTiles();
    QEventLoop loop;
    QObject::connect(m_network, &TileSource::tileReady, &loop, [&] {
        if (done())
            loop.quit();
    });
    // A failure announces nothing, so it is looked for now and then; the
    // limit ends a wait on a server that never answers.
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    check.start(kFailureCheckMs);
    QTimer::singleShot(limitMs, &loop, &QEventLoop::quit);
    loop.exec();
    return missingTiles();
}

QImage ReportMap::render(const AcceptanceSection& section, const AcceptanceArea& area)
{
    AcceptanceLayer layer;
    layer.setTiles(section.tiles);
    layer.setArea(area);
    m_renderer.setAcceptance(&layer);
    QImage image(m_viewport.size().toSize(), QImage::Format_RGB32);
    image.fill(Qt::white);
    m_renderer.render(image, m_viewport, m_tiles.get(), {}, RssiPalette(), {});
    m_renderer.setAcceptance(nullptr);
    return image;
}
