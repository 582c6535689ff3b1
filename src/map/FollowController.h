#pragma once

#include "AcceptanceLayer.h"
#include "FollowBatch.h"
#include "LogFollowFeed.h"
#include "StatusMessages.h"
#include "coverage/AcceptanceArea.h"
#include "coverage/AcceptanceInput.h"
#include "coverage/AcceptanceSection.h"
#include "coverage/AcceptanceTiler.h"
#include "coverage/NearestUndriven.h"

#include <QObject>
#include <QString>

#include <memory>
#include <optional>

class AcceptancePanel;
class CoverageController;
class MapAcceptanceLoader;
class MapView;
class QDockWidget;
class QMainWindow;

// tavrix-map --follow: a log drawn as the logger writes it. The route's
// dots and the coverage cells of the Coverage panel's choice fill in as the
// feed's batches come; with an area, the acceptance tiles of the chosen
// receiver and frequency are shaded by state and a dock keeps the running
// figures, which are the report's own: the tiles' readings mirror what the
// worker gathered, and the report's tiler judges them.
class FollowController : public QObject
{
    Q_OBJECT
public:
    struct Options
    {
        QString path;
        double cellMetres = 50;
        bool acceptance = false; // --threshold given
        AcceptanceArea area;     // empty: the driven tiles are the area
        AcceptanceTiler::Settings tiler;
        double confidence = 0.90; // 0..1, for the panel's words
        // A map's test: false takes the map's cell size for tiles, as
        // klf-report does (a followed log's tiles are tiler.tileMetres).
        bool tileGiven = true;
    };

    FollowController(QMainWindow* window, MapView* view, CoverageController* coverage);
    ~FollowController() override;

    void start(const Options& options);
    // Stops reading; what is drawn stays.
    void stop();
    // Stops, and takes the acceptance tiles and panel away: another source is shown.
    void close();
    bool running() const;
    // Every coverage map drawn from now on, until start(), gets its
    // acceptance test; the options' area and settings hold for each.
    void testMaps(const Options& options);
    // The map whose tiles are shown or being read; empty: none.
    QString testedMap() const { return m_mapSource; }
    // The map's tiles are being read, or will be read again.
    bool testingMap() const;

    LogFollowFeed* feed() const { return m_feed; }
    AcceptancePanel* panel() const { return m_panel; }
    QDockWidget* dock() const { return m_dock; }
    const AcceptanceLayer& layer() const { return m_layer; }
    // The chosen channel's test as drawn; none before it is driven.
    const std::optional<AcceptanceSection>& section() const { return m_section; }
    const std::optional<NearestUndriven::Answer>& nearest() const { return m_nearest; }
    QString serial() const { return m_serial; }
    // What the status field says of the followed log.
    QString describe() const;

signals:
    void message(const QString& text, StatusMessages::Kind kind, int forMs);
    // A batch is drawn.
    void updated();
    // The log's first batch after it was opened is drawn: what it held then.
    void opened();
    // A map's tiles are drawn (error empty), or why they are not; each read
    // again of a shared map says so too.
    void mapTested(const QString& error);

private:
    void onArrived();
    void apply(FollowBatch& batch);
    void restart();
    void refreshAcceptance();
    void showMap(const QString& source);
    void readMapAgain();
    void onMapRead();

    MapView* m_view;
    CoverageController* m_coverage;
    LogFollowFeed* m_feed;
    MapAcceptanceLoader* m_mapLoader;
    std::optional<Options> m_mapOptions; // testMaps()' options
    QString m_mapSource;                 // the map tested; empty: a followed log or nothing
    double m_mapTileMetres = 0;          // of m_tiler, with a map
    AcceptancePanel* m_panel;
    QDockWidget* m_dock;
    Options m_options;
    QString m_name;
    AcceptanceLayer m_layer;
    std::unique_ptr<AcceptanceTiler> m_tiler;
    AcceptanceInput m_tiles; // the worker's tiles as of the last batch
    std::optional<AcceptanceSection> m_section;
    std::optional<NearestUndriven::Answer> m_nearest;
    std::optional<MapPoint> m_lastFix;
    QString m_serial;
    uint64_t m_records = 0;
    bool m_fitted = false;
    bool m_openedSaid = false;
};
