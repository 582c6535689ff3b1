#include "MapWindow.h"

#include "CoverageController.h"
#include "DriveHistoryPanel.h"
#include "DriveIndexLoader.h"

#include "MapView.h"
#include "MbTilesSource.h"
#include "NetworkTileSource.h"
#include "TileMath.h"
#include "TileServerSettings.h"
#include "display/PaletteLegend.h"
#include "display/WaterfallView.h"
#include "gps/MapBlock.h"

#include <QAction>
#include <QBuffer>
#include <QActionGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QProgressDialog>
#include <QSaveFile>
#include <QSettings>
#include <QSlider>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

#include <algorithm>
#include <cstdio>

namespace {
constexpr char kTitle[] = "Tavrix Map";

QLabel* statusField(QWidget* parent, const QString& accessibleName)
{
    auto* label = new QLabel(parent);
    label->setAccessibleName(accessibleName);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}
} // namespace

MapWindow::MapWindow(const Options& options, QWidget* parent)
    : QMainWindow(parent)
    , m_options(options)
{
    m_settings = options.settingsFile.isEmpty()
        ? std::make_unique<QSettings>(QLatin1String(TileServerSettings::kOrganization),
                                      QLatin1String(TileServerSettings::kApplication))
        : std::make_unique<QSettings>(options.settingsFile, QSettings::IniFormat);
    setWindowTitle(QLatin1String(kTitle));
    setAccessibleName(QLatin1String(kTitle));

    // The map above, a recorded drive's scan history below it.
    m_split = new QSplitter(Qt::Vertical, this);
    m_split->setChildrenCollapsible(false);
    m_view = new MapView(m_split);
    m_view->setObjectName(QStringLiteral("mapView"));
    m_history = new DriveHistoryPanel(m_split);
    m_history->setObjectName(QStringLiteral("driveHistory"));
    m_history->hide();
    // Nothing above the drive's waterfall names its channels: its key does.
    for (PaletteLegend* key : m_history->findChildren<PaletteLegend*>())
        key->showChannelsOf(m_history->waterfall());
    m_split->addWidget(m_view);
    m_split->addWidget(m_history);
    m_split->setStretchFactor(0, 3);
    m_split->setStretchFactor(1, 2);
    setCentralWidget(m_split);
    m_coverage = new CoverageController(this, m_view);
    connect(m_coverage, &CoverageController::opened, this, &MapWindow::onCoverageOpened);
    connect(m_coverage, &CoverageController::notice, this,
            [this](const QString& text) { say(text, StatusMessages::Kind::Notice, 20000); });
    m_loader = new DriveLoader(this);
    connect(m_loader, &DriveLoader::finished, this, &MapWindow::onDriveLoaded);
    m_indexLoader = new DriveIndexLoader(this);
    connect(m_indexLoader, &DriveIndexLoader::finished, this, &MapWindow::onDriveIndexed);
    connect(m_history, &DriveHistoryPanel::cursorMoved, this, &MapWindow::onCursorMoved);
    connect(m_view, &MapView::pointSelected, this, [this](const QString& text) {
        m_pointLabel->setText(text);
        onPointSelected();
    });

    buildMenus();
    buildDriveBar();
    buildStatus();
    colourHistory();

    const QByteArray geometry = m_settings->value(QStringLiteral("window/geometry")).toByteArray();
    if (geometry.isEmpty() || !restoreGeometry(geometry))
        resize(1024, 720);
    if (m_settings->contains(QStringLiteral("view/zoom"))) {
        m_view->viewport().setZoom(m_settings->value(QStringLiteral("view/zoom")).toInt());
        m_view->viewport().setCentre(TileMath::worldFromGeo(m_settings->value(QStringLiteral("view/latitude")).toDouble(),
                                                            m_settings->value(QStringLiteral("view/longitude")).toDouble()));
    }

    // A base map given on the command line is for this run; the settings keep the user's choice.
    m_rememberBase = false;
    if (!options.mbtiles.isEmpty())
        useMbTiles(options.mbtiles);
    else if (options.grid)
        useGrid();
    else if (!options.tileUrl.isEmpty())
        useNetworkTiles();
    else {
        const QString base = m_settings->value(QStringLiteral("tiles/base"), QStringLiteral("network")).toString();
        const QString mbtiles = m_settings->value(QStringLiteral("tiles/mbtiles")).toString();
        if (base == QLatin1String("grid") || (base == QLatin1String("mbtiles") && !useMbTiles(mbtiles)))
            useGrid();
        else if (base != QLatin1String("mbtiles"))
            useNetworkTiles();
    }
    m_rememberBase = true;
    updateInfo();
}

MapWindow::~MapWindow()
{
    stopLive();
    m_loader->cancel();
    m_indexLoader->cancel();
    m_coverage->cancel();
}

void MapWindow::buildMenus()
{
    QMenu* file = menuBar()->addMenu(tr("&File"));
    file->addAction(tr("&Open…"), QKeySequence::Open, this, [this] {
        const QString path = QFileDialog::getOpenFileName(this, tr("Open a Drive or Coverage Map"), QFileInfo(m_drivePath).path(),
                                                          tr("Tavrix logs and coverage maps (*.KLF *.klf *.gpkg);;All files (*)"));
        if (path.isEmpty())
            return;
        if (CoverageController::isCoverageFile(path))
            openCoverage(path);
        else
            openDrive(path);
    });
    m_liveAction = file->addAction(tr("&Live"));
    m_liveAction->setCheckable(true);
    m_liveAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    connect(m_liveAction, &QAction::triggered, this, [this](bool on) { on ? startLive() : stopLive(); });
    file->addAction(tr("&Export Image…"), QKeySequence(Qt::CTRL | Qt::Key_E), this, [this] {
        const QString path = QFileDialog::getSaveFileName(this, tr("Export Image"),
                                                          QDir::home().filePath(QStringLiteral("tavrix-map.png")),
                                                          tr("PNG images (*.png)"));
        if (!path.isEmpty() && !exportImage(path))
            QMessageBox::warning(this, QLatin1String(kTitle), tr("Could not write %1").arg(path));
    });
    file->addSeparator();
    file->addAction(tr("&Quit"), QKeySequence::Quit, this, &QWidget::close);

    QMenu* view = menuBar()->addMenu(tr("&View"));
    view->addAction(tr("Zoom &In"), QKeySequence::ZoomIn, m_view, &MapView::zoomIn);
    view->addAction(tr("Zoom &Out"), QKeySequence::ZoomOut, m_view, &MapView::zoomOut);
    view->addAction(tr("&Fit the Drive"), QKeySequence(Qt::CTRL | Qt::Key_F), this, &MapWindow::fitDrive);
    m_followAction = view->addAction(tr("F&ollow Newest Point"));
    m_followAction->setCheckable(true);
    m_followAction->setChecked(m_view->followNewest());
    connect(m_followAction, &QAction::toggled, m_view, &MapView::setFollowNewest);
    connect(m_view, &MapView::followChanged, m_followAction, &QAction::setChecked);

    QMenu* base = menuBar()->addMenu(tr("&Base Map"));
    m_baseGroup = new QActionGroup(this);
    m_networkAction = base->addAction(tr("&Tile Server"), this, &MapWindow::useNetworkTiles);
    m_mbtilesAction = base->addAction(tr("&MBTiles File…"), this, [this] {
        const QString path = QFileDialog::getOpenFileName(this, tr("Open MBTiles"), QString(),
                                                          tr("MBTiles (*.mbtiles);;All files (*)"));
        if (path.isEmpty() || !useMbTiles(path))
            setBase(std::move(m_tiles), m_baseMap); // keep what was there, and its tick
    });
    m_gridAction = base->addAction(tr("&Grid Only"), this, &MapWindow::useGrid);
    for (QAction* a : {m_networkAction, m_mbtilesAction, m_gridAction}) {
        a->setCheckable(true);
        m_baseGroup->addAction(a);
    }
}

void MapWindow::buildDriveBar()
{
    m_driveBar = addToolBar(tr("Drive"));
    m_driveBar->setObjectName(QStringLiteral("driveBar"));
    m_driveBar->setMovable(false);
    auto label = [this](const QString& text, QWidget* buddy) {
        auto* l = new QLabel(text, m_driveBar);
        l->setBuddy(buddy);
        m_driveBar->addWidget(l);
        m_driveBar->addWidget(buddy);
    };
    m_receiver = new QComboBox(m_driveBar);
    m_receiver->addItems({tr("Receiver #1"), tr("Receiver #2")});
    m_receiver->setAccessibleName(tr("Receiver"));
    label(tr("&Receiver:"), m_receiver);
    m_measure = new QComboBox(m_driveBar);
    m_measure->setAccessibleName(tr("Channel or frequency"));
    m_measure->setMinimumContentsLength(22);
    m_measure->addItem(tr("Strongest between fixes"));
    label(tr(" &Channel:"), m_measure);
    m_rangeMin = new QSpinBox(m_driveBar);
    m_rangeMax = new QSpinBox(m_driveBar);
    for (QSpinBox* s : {m_rangeMin, m_rangeMax}) {
        s->setRange(MapBlock::kRangeLowest, MapBlock::kRangeHighest); // the logger's range dialog's limits
        s->setSuffix(QStringLiteral(" dBm"));
    }
    m_rangeMin->setValue(m_settings->value(QStringLiteral("range/minimum"), -120).toInt());
    m_rangeMax->setValue(m_settings->value(QStringLiteral("range/maximum"), -50).toInt());
    m_rangeMin->setAccessibleName(tr("Colour range minimum"));
    m_rangeMax->setAccessibleName(tr("Colour range maximum"));
    label(tr(" Colour range &from"), m_rangeMin);
    label(tr(" &to"), m_rangeMax);

    connect(m_receiver, &QComboBox::activated, this, [this] {
        m_measure->setCurrentIndex(0);
        m_history->setReceiver(m_receiver->currentIndex());
        reloadDrive();
    });
    connect(m_measure, &QComboBox::activated, this, &MapWindow::reloadDrive);
    auto recolour = [this] {
        colourHistory();
        if (live() || m_view->layers().empty())
            return;
        for (PointLayer& l : m_view->layers())
            l.recolour(recordedPalette());
        m_view->setLegend(recordedPalette());
        m_view->layersChanged();
    };
    connect(m_rangeMin, &QSpinBox::valueChanged, this, recolour);
    connect(m_rangeMax, &QSpinBox::valueChanged, this, recolour);
    m_driveBar->hide();
}

void MapWindow::buildStatus()
{
    m_serialLabel = statusField(this, tr("Serial number"));
    m_countLabel = statusField(this, tr("Number of points"));
    m_newestLabel = statusField(this, tr("Newest point"));
    m_pointLabel = statusField(this, tr("Selected point"));
    m_messageLabel = statusField(this, tr("Status message"));
    m_messageLabel->hide();
    statusBar()->addWidget(m_serialLabel);
    statusBar()->addWidget(m_countLabel);
    statusBar()->addWidget(m_newestLabel, 1);
    statusBar()->addWidget(m_messageLabel, 1);
    statusBar()->addPermanentWidget(m_pointLabel);
    m_indexProgress = new QProgressBar(this);
    m_indexProgress->setAccessibleName(tr("Indexing the drive"));
    m_indexProgress->setRange(0, 1000);
    m_indexProgress->setFormat(tr("Indexing %p%"));
    m_indexProgress->setMaximumWidth(200);
    m_indexProgress->hide();
    statusBar()->addPermanentWidget(m_indexProgress);
    m_indexTimer = new QTimer(this);
    m_indexTimer->setInterval(100);
    connect(m_indexTimer, &QTimer::timeout, this, [this] { m_indexProgress->setValue(int(m_indexLoader->progress() * 1000)); });
    m_coverageProgress = new QProgressBar(this);
    m_coverageProgress->setAccessibleName(tr("Reading the coverage map"));
    m_coverageProgress->setFormat(tr("Reading the coverage map %p%"));
    // Wide enough for its words on one line: the status bar would squeeze it.
    m_coverageProgress->setMinimumWidth(m_coverageProgress->fontMetrics().horizontalAdvance(
                                            m_coverageProgress->format().replace(QStringLiteral("%p"), QStringLiteral("100")))
                                        + 40);
    m_coverageProgress->hide();
    statusBar()->addPermanentWidget(m_coverageProgress);
    m_coverageTimer = new QTimer(this);
    m_coverageTimer->setInterval(100);
    connect(m_coverageTimer, &QTimer::timeout, this, [this] {
        const double done = m_coverage->progress();
        // A map that does not say how many cells it holds shows a busy bar.
        m_coverageProgress->setRange(0, done < 0 ? 0 : 1000);
        m_coverageProgress->setValue(done < 0 ? 0 : int(done * 1000));
    });
    m_clock.start();
    m_messageTimer = new QTimer(this);
    m_messageTimer->setSingleShot(true);
    connect(m_messageTimer, &QTimer::timeout, this, &MapWindow::showStatusMessage);
}

// A label of our own rather than QStatusBar's message: that one is drawn over
// the fields when it comes before the window is shown.
void MapWindow::say(const QString& text, StatusMessages::Kind kind, int forMs)
{
    m_messages.post(text, kind, m_clock.elapsed(), forMs);
    showStatusMessage();
}

void MapWindow::showStatusMessage()
{
    const int64_t now = m_clock.elapsed();
    const QString text = m_messages.current(now);
    m_messageLabel->setText(text);
    m_messageLabel->setVisible(!text.isEmpty());
    for (QLabel* field : {m_serialLabel, m_countLabel, m_newestLabel})
        field->setVisible(text.isEmpty());
    if (const auto next = m_messages.nextChange(now))
        m_messageTimer->start(int(*next - now));
}

QString MapWindow::statusMessage() const
{
    return m_messageLabel->text();
}

// Every point in view at the largest zoom, across the antimeridian when that
// is narrower. The points are first gathered into narrow stretches of x
// (their exact extremes kept), so a long drive costs one pass and no copy.
void MapWindow::fitDrive()
{
    constexpr int kStretches = 4096;
    std::vector<QRectF> stretches(kStretches);
    std::vector<bool> used(kStretches, false);
    for (const PointLayer& l : m_view->layers())
        for (const QPointF& w : l.world()) {
            const int k = std::clamp(int(w.x() * kStretches), 0, kStretches - 1);
            QRectF& r = stretches[k];
            if (!used[k]) {
                r = QRectF(w, QSizeF(0, 0));
                used[k] = true;
                continue;
            }
            r.setLeft(std::min(r.left(), w.x()));
            r.setRight(std::max(r.right(), w.x()));
            r.setTop(std::min(r.top(), w.y()));
            r.setBottom(std::max(r.bottom(), w.y()));
        }
    std::vector<QRectF> boxes;
    for (int k = 0; k < kStretches; ++k)
        if (used[k])
            boxes.push_back(stretches[k]);
    if (boxes.empty())
        return;
    m_view->viewport().fit(TileMath::wrappedBounds(std::move(boxes)));
    m_view->update();
}

// The waterfall under the map colours on the map's range, and its key says
// so: one colour for one reading on the screen.
void MapWindow::colourHistory()
{
    const RssiPalette palette = recordedPalette();
    m_history->waterfall()->setPalette(palette);
    for (PaletteLegend* key : m_history->findChildren<PaletteLegend*>())
        key->setRange(palette.minimum(), palette.maximum());
}

RssiPalette MapWindow::recordedPalette() const
{
    return RssiPalette(m_rangeMin->value(), m_rangeMax->value());
}

void MapWindow::setBase(std::unique_ptr<TileSource> tiles, BaseMap kind)
{
    m_view->setTileSource(tiles.get());
    m_tiles = std::move(tiles);
    m_baseMap = kind;
    QAction* tick = kind == BaseMap::Network ? m_networkAction : kind == BaseMap::MbTiles ? m_mbtilesAction : m_gridAction;
    tick->setChecked(true);
}

void MapWindow::useNetworkTiles()
{
    const TileServerSettings::Server server = TileServerSettings::server(*m_settings, m_options.tileUrl);
    const QString cache = m_options.tileCacheDir.isEmpty() ? TileServerSettings::cacheDir() : m_options.tileCacheDir;
    auto source = std::make_unique<NetworkTileSource>(server.url, cache, server.attribution);
    // Once a run, however often the base map is chosen again.
    if (!source->cacheProblem().isEmpty() && !m_cacheProblemSaid) {
        m_cacheProblemSaid = true;
        std::fprintf(stderr, "tavrix-map: %s\n", qPrintable(source->cacheProblem()));
        say(source->cacheProblem(), StatusMessages::Kind::Notice, 10000);
    }
    setBase(std::move(source), BaseMap::Network);
    if (m_rememberBase)
        m_settings->setValue(QStringLiteral("tiles/base"), QStringLiteral("network"));
}

bool MapWindow::useMbTiles(const QString& path)
{
    auto source = std::make_unique<MbTilesSource>();
    if (!source->open(path)) {
        say(tr("Could not open %1: %2").arg(path, source->error()), StatusMessages::Kind::Error, 10000);
        if (!m_tiles && m_baseMap != BaseMap::Grid)
            useGrid();
        return false;
    }
    setBase(std::move(source), BaseMap::MbTiles);
    if (m_rememberBase) {
        m_settings->setValue(QStringLiteral("tiles/base"), QStringLiteral("mbtiles"));
        m_settings->setValue(QStringLiteral("tiles/mbtiles"), path);
    }
    return true;
}

void MapWindow::useGrid()
{
    setBase(nullptr, BaseMap::Grid);
    if (m_rememberBase)
        m_settings->setValue(QStringLiteral("tiles/base"), QStringLiteral("grid"));
}

void MapWindow::startLive()
{
    m_loader->cancel();
    m_indexLoader->cancel();
    m_indexTimer->stop();
    m_indexProgress->hide();
    m_history->hide();
    m_history->clearDrive();
    m_view->setMarker(std::nullopt);
    m_drivePath.clear();
    m_driveBar->hide();
    m_view->clear();
    m_serial.clear();
    m_feed = std::make_unique<LivePointFeed>(m_options.blockName);
    connect(m_feed.get(), &LivePointFeed::pointArrived, this, &MapWindow::onLivePoint);
    connect(m_feed.get(), &LivePointFeed::blockRejected, this, [this](const QString& reason) {
        std::fprintf(stderr, "tavrix-map: %s\n", qPrintable(reason));
        statusBar()->showMessage(reason);
    });
    m_feed->start(m_options.poll);
    m_liveAction->setChecked(true);
    setWindowTitle(tr("%1 — Live").arg(QLatin1String(kTitle)));
    say(m_feed->polling() ? tr("Live: looking for new points every %1 ms").arg(LivePointFeed::kPollMs)
                          : tr("Live: waiting for ZKT_MAP_UPDATE"),
        StatusMessages::Kind::Notice, 5000);
    updateInfo();
}

void MapWindow::stopLive()
{
    const bool wasLive = bool(m_feed);
    m_feed.reset();
    if (wasLive) {
        setWindowTitle(QLatin1String(kTitle)); // the dots stay, no longer live
        updateInfo();
    }
    if (m_liveAction)
        m_liveAction->setChecked(false);
}

bool MapWindow::live() const
{
    return m_feed && m_feed->running();
}

void MapWindow::onLivePoint(const LivePointFeed::Point& p)
{
    m_serial = p.serial;
    m_view->setLegend(p.palette);
    m_view->addLivePoint(p.serial, p.point);
    updateInfo();
}

void MapWindow::openCoverage(const QString& path)
{
    m_coverage->open(path);
    m_coverageProgress->setRange(0, 1000);
    m_coverageProgress->setValue(0);
    m_coverageProgress->show();
    m_coverageTimer->start();
}

void MapWindow::onCoverageOpened(const QString& path, const QString& error)
{
    m_coverageTimer->stop();
    m_coverageProgress->hide();
    if (!error.isEmpty()) {
        const QString text = tr("Could not open %1: %2").arg(path, error);
        say(text, StatusMessages::Kind::Error, 15000);
        // The reason and what to do (a cut-off klf-coverage run's repair)
        // run longer than the status bar: said whole in a box that does not
        // stop the window.
        auto* box = new QMessageBox(QMessageBox::Warning, tr("Coverage map not opened"), text, QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setObjectName(QStringLiteral("coverageOpenError"));
        box->setWindowModality(Qt::NonModal);
        box->show();
        return;
    }
    setWindowTitle(tr("%1 — %2").arg(QLatin1String(kTitle), QFileInfo(path).fileName()));
}

// A coverage map still being read when a drive is opened would draw over
// the drive and move the view away from it: the drive, opened later, wins.
void MapWindow::dropCoverageRead()
{
    m_coverage->cancel();
    m_coverageTimer->stop();
    m_coverageProgress->hide();
}

void MapWindow::openDrive(const QString& path)
{
    stopLive();
    dropCoverageRead();
    m_drivePath = path;
    m_driveBar->show();
    setWindowTitle(tr("%1 — %2").arg(QLatin1String(kTitle), QFileInfo(path).fileName()));
    m_measure->clear();
    m_measure->addItem(tr("Strongest between fixes"));
    m_receiver->setCurrentIndex(0);
    m_history->hide();
    m_history->clearDrive();
    m_history->setReceiver(0);
    m_view->setMarker(std::nullopt);
    m_indexLoader->start(path);
    m_indexProgress->setValue(0);
    m_indexProgress->show();
    m_indexTimer->start();
    reloadDrive();
}

void MapWindow::onDriveIndexed()
{
    m_indexTimer->stop();
    m_indexProgress->hide();
    std::shared_ptr<const DriveIndex> index = m_indexLoader->takeIndex();
    if (!index) {
        const QString why = m_indexLoader->error();
        if (!why.isEmpty())
            say(tr("No scan history for this drive: %1").arg(why), StatusMessages::Kind::Error, 10000);
        return;
    }
    if (index->records() == 0)
        return;
    m_history->setDrive(m_drivePath, std::move(index));
    m_history->show();
}

void MapWindow::onCursorMoved(uint64_t record)
{
    const DriveIndex* index = m_history->index();
    const DriveIndex::Position p = index ? index->positionAt(record) : DriveIndex::Position();
    m_view->setMarker(p.placed ? std::optional<QPointF>(TileMath::worldFromGeo(p.latitude, p.longitude)) : std::nullopt);
}

// A dot of a recorded drive moves the time slider to the moment it was read.
void MapWindow::onPointSelected()
{
    const DriveIndex* index = m_history->index();
    const MapRenderer::Selection at = m_view->selection();
    if (!index || live() || at.layer < 0)
        return;
    if (const auto record = index->recordAt(m_view->layers()[size_t(at.layer)].point(size_t(at.index)).timeMs))
        m_history->setCursor(*record);
}

void MapWindow::reloadDrive()
{
    if (m_drivePath.isEmpty())
        return;
    DriveLoader::Choice choice;
    choice.receiver = m_receiver->currentIndex();
    const QVariant m = m_measure->currentData();
    if (m.isValid()) {
        const QPointF v = m.toPointF();
        choice.measure = DriveLoader::Measure{int(v.x()), v.y()};
    }
    m_driveBar->setEnabled(false);
    m_loader->start(m_drivePath, choice, recordedPalette());

    if (!m_progress) {
        m_progress = new QProgressDialog(tr("Reading %1…").arg(QFileInfo(m_drivePath).fileName()), tr("Cancel"), 0, 1000, this);
        m_progress->setWindowTitle(QLatin1String(kTitle));
        m_progress->setAccessibleName(tr("Reading the drive"));
        m_progress->setMinimumDuration(300);
        m_progress->setAutoClose(false);
        m_progress->setAutoReset(false);
        connect(m_progress, &QProgressDialog::canceled, m_loader, &DriveLoader::cancel);
        m_progressTimer = new QTimer(m_progress);
        m_progressTimer->setInterval(100);
        connect(m_progressTimer, &QTimer::timeout, this, [this] {
            if (m_progress)
                m_progress->setValue(int(m_loader->progress() * 1000));
        });
    }
    m_progress->setValue(0);
    m_progressTimer->start();
}

void MapWindow::onDriveLoaded()
{
    if (m_progress) {
        m_progressTimer->stop();
        m_progress->deleteLater();
    }
    DriveLoader::Result r = m_loader->takeResult();
    m_driveBar->setEnabled(true);
    if (r.cancelled) {
        say(tr("Reading cancelled"), StatusMessages::Kind::Notice, 5000);
        return;
    }
    if (m_measure->count() == 1) {
        for (const DriveLoader::Measure& m : r.measures) {
            const QString text = m.channel > 0 ? tr("Channel %1").arg(m.channel)
                                               : tr("%1 MHz").arg(m.frequencyMHz, 0, 'f', 5);
            m_measure->addItem(text, QPointF(m.channel, m.frequencyMHz));
        }
    }
    m_serial = QString::fromStdString(r.summary.serialNumber);
    m_view->layers().clear();
    m_view->layers().push_back(std::move(r.layer));
    m_view->setLegend(recordedPalette());
    m_view->layersChanged();
    fitDrive();
    std::size_t beyond = 0;
    for (const PointLayer& l : m_view->layers())
        for (std::size_t i = 0; i < l.size(); ++i)
            beyond += !TileMath::onBaseMap(l.point(i).latitude);
    if (beyond > 0)
        say(beyond == 1 ? tr("1 point of this drive lies beyond 85.05° north or south, where the base map "
                             "ends: it is drawn on its edge")
                        : tr("%1 points of this drive lie beyond 85.05° north or south, where the base map "
                             "ends: they are drawn on its edge").arg(beyond),
            StatusMessages::Kind::Notice, 20000);
    if (!r.summary.whole())
        say(tr("The log stops making sense at byte %1: %2; drawn up to there")
                .arg(r.summary.stopOffset)
                .arg(QString::fromStdString(r.summary.error)),
            StatusMessages::Kind::Error, 15000);
    updateInfo();
}

void MapWindow::updateInfo()
{
    m_serialLabel->setText(tr("SN: %1").arg(m_serial.isEmpty() ? tr("—") : m_serial));
    m_countLabel->setText(tr("%n point(s)", nullptr, int(m_view->pointCount())));
    const auto& layers = m_view->layers();
    if (layers.empty() || layers.back().empty()) {
        m_newestLabel->setText(live() ? tr("Waiting for the first point") : QString());
        return;
    }
    const MapPoint& p = layers.back().newest();
    if (live())
        m_newestLabel->setText(tr("Newest: %1 dBm at %2, %3, came %4")
                                   .arg(p.rssi)
                                   .arg(p.latitude, 0, 'f', 6)
                                   .arg(p.longitude, 0, 'f', 6)
                                   .arg(QDateTime::fromMSecsSinceEpoch(p.timeMs).toString(QStringLiteral("hh:mm:ss"))));
    else
        m_newestLabel->setText(QFileInfo(m_drivePath).fileName());
}

QString MapWindow::info() const
{
    return QStringList{m_serialLabel->text(), m_countLabel->text(), m_newestLabel->text()}.join(QStringLiteral("  "));
}

bool MapWindow::exportImage(const QString& path)
{
    // Written beside the target and renamed over it only when whole. The
    // picture is encoded first and written unbuffered: QSaveFile's commit
    // does not see a write that failed in its buffer and would put a cut
    // picture in place.
    QByteArray png;
    QBuffer encoded(&png);
    if (!encoded.open(QIODevice::WriteOnly) || !m_view->renderImage().save(&encoded, "PNG"))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) || file.write(png) != png.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

void MapWindow::saveSettings()
{
    m_settings->setValue(QStringLiteral("window/geometry"), saveGeometry());
    const TileMath::Geo centre = TileMath::geoFromWorld(m_view->viewport().centre());
    m_settings->setValue(QStringLiteral("view/zoom"), m_view->viewport().zoom());
    m_settings->setValue(QStringLiteral("view/latitude"), centre.latitude);
    m_settings->setValue(QStringLiteral("view/longitude"), centre.longitude);
    m_settings->setValue(QStringLiteral("range/minimum"), m_rangeMin->value());
    m_settings->setValue(QStringLiteral("range/maximum"), m_rangeMax->value());
    m_settings->sync();
    if (m_settings->status() != QSettings::NoError && m_settingsProblem.isEmpty()) {
        m_settingsProblem = tr("could not save the settings in %1").arg(m_settings->fileName());
        std::fprintf(stderr, "tavrix-map: %s\n", qPrintable(m_settingsProblem));
    }
}

void MapWindow::closeEvent(QCloseEvent* e)
{
    saveSettings();
    stopLive();
    m_loader->cancel();
    m_indexLoader->cancel();
    m_coverage->cancel();
    e->accept();
}
