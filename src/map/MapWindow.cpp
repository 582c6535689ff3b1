#include "MapWindow.h"

#include "CoverageController.h"
#include "DriveController.h"
#include "DriveHistoryPanel.h"
#include "LiveController.h"
#include "LivePointFeed.h"
#include "MapView.h"
#include "MbTilesSource.h"
#include "NetworkTileSource.h"
#include "OpenDatabaseDialog.h"
#include "TileMath.h"
#include "TileServerSettings.h"

#include "coverage/PgSource.h"

#include <QAction>
#include <QActionGroup>
#include <QBuffer>
#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QSaveFile>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>

#include <cstdio>

namespace {
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
    auto* split = new QSplitter(Qt::Vertical, this);
    split->setChildrenCollapsible(false);
    m_view = new MapView(split);
    m_view->setObjectName(QStringLiteral("mapView"));
    m_history = new DriveHistoryPanel(split);
    m_history->setObjectName(QStringLiteral("driveHistory"));
    m_history->hide();
    split->addWidget(m_view);
    split->addWidget(m_history);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    setCentralWidget(split);
    connect(m_view, &MapView::pointSelected, this, [this](const QString& text) { m_pointLabel->setText(text); });

    buildStatus(); // the fields before the controllers' progress
    m_live = new LiveController(m_view, options.blockName, this);
    connect(m_live, &LiveController::pointShown, this, [this] {
        m_serial = m_live->serial();
        updateInfo();
    });
    connect(m_live, &LiveController::blockRejected, this, [this](const QString& reason) {
        std::fprintf(stderr, "tavrix-map: %s\n", qPrintable(reason));
        statusBar()->showMessage(reason);
    });
    m_drive = new DriveController(this, m_view, m_history, *m_settings);
    connect(m_drive, &DriveController::message, this, &MapWindow::say);
    connect(m_drive, &DriveController::drawn, this, [this] {
        m_serial = m_drive->serial();
        updateInfo();
    });
    m_coverage = new CoverageController(this, m_view);
    connect(m_coverage, &CoverageController::opened, this, &MapWindow::onCoverageOpened);
    connect(m_coverage, &CoverageController::notice, this,
            [this](const QString& text) { say(text, StatusMessages::Kind::Notice, 20000); });
    connect(m_coverage, &CoverageController::cellsChanged, this, &MapWindow::updateInfo);
    m_follow = new FollowController(this, m_view, m_coverage);
    connect(m_follow, &FollowController::message, this, &MapWindow::say);
    connect(m_follow, &FollowController::updated, this, [this] {
        m_serial = m_follow->serial();
        updateInfo();
    });
    buildMenus();

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
    m_follow->stop();
    stopLive();
    m_drive->cancel();
    m_coverage->cancel();
}

LivePointFeed* MapWindow::feed() const
{
    return m_live->feed();
}

DriveLoader* MapWindow::loader() const
{
    return m_drive->loader();
}

DriveIndexLoader* MapWindow::indexLoader() const
{
    return m_drive->indexLoader();
}

void MapWindow::buildMenus()
{
    QMenu* file = menuBar()->addMenu(tr("&File"));
    file->addAction(tr("&Open…"), QKeySequence::Open, this, [this] {
        const QString path = QFileDialog::getOpenFileName(this, tr("Open a Drive or Coverage Map"), QFileInfo(m_drive->path()).path(),
                                                          tr("Tavrix logs and coverage maps (*.KLF *.klf *.gpkg);;All files (*)"));
        if (path.isEmpty())
            return;
        if (CoverageController::isCoverageFile(path))
            openCoverage(path);
        else
            openDrive(path);
    });
    file->addAction(tr("Open &Database…"), this, &MapWindow::openDatabase);
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
    view->addAction(tr("&Fit the Drive"), QKeySequence(Qt::CTRL | Qt::Key_F), m_view, &MapView::fitDrive);
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
    m_follow->close();
    m_drive->close();
    m_serial.clear();
    m_live->start(m_options.poll);
    m_liveAction->setChecked(true);
    setWindowTitle(tr("%1 — Live").arg(QLatin1String(kTitle)));
    say(m_live->polling() ? tr("Live: looking for new points every %1 ms").arg(LivePointFeed::kPollMs)
                          : tr("Live: waiting for ZKT_MAP_UPDATE"),
        StatusMessages::Kind::Notice, 5000);
    updateInfo();
}

void MapWindow::stopLive()
{
    const bool wasLive = bool(m_live->feed());
    m_live->stop();
    if (wasLive) {
        setWindowTitle(QLatin1String(kTitle)); // the dots stay, no longer live
        updateInfo();
    }
    if (m_liveAction)
        m_liveAction->setChecked(false);
}

bool MapWindow::live() const
{
    return m_live->running();
}

void MapWindow::openCoverage(const QString& path)
{
    m_follow->close();
    m_coverage->open(path);
}

// The text is remembered without a password (libpq finds one in ~/.pgpass).
void MapWindow::openDatabase()
{
    const QString key = QStringLiteral("coverage/database");
    OpenDatabaseDialog dialog(m_settings->value(key).toString(), this);
    if (dialog.exec() != QDialog::Accepted || dialog.source().isEmpty())
        return;
    m_settings->setValue(key, CoverageController::shownName(dialog.source()));
    openCoverage(dialog.source());
}

void MapWindow::follow(const FollowController::Options& options)
{
    stopLive();
    m_drive->close();
    m_coverage->cancel();
    m_serial.clear();
    setWindowTitle(tr("%1 — Following %2").arg(QLatin1String(kTitle), QFileInfo(options.path).fileName()));
    m_follow->start(options);
    updateInfo();
}

void MapWindow::onCoverageOpened(const QString& path, const QString& error)
{
    if (!error.isEmpty()) {
        // A file by its whole path; a database without its password.
        const QString name = PgSource::is(path.toStdString()) ? CoverageController::shownName(path) : path;
        const QString text = tr("Could not open %1: %2").arg(name, error);
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
    setWindowTitle(tr("%1 — %2").arg(QLatin1String(kTitle), CoverageController::shownName(path)));
}

// A coverage map still being read when a drive is opened would draw over
// the drive and move the view away from it: the drive, opened later, wins.
void MapWindow::openDrive(const QString& path)
{
    m_follow->close();
    stopLive();
    m_coverage->cancel();
    setWindowTitle(tr("%1 — %2").arg(QLatin1String(kTitle), QFileInfo(path).fileName()));
    m_drive->open(path);
}

// A coverage map alone has no serial number nor points: the fields say
// which map it is and how many of its cells are shown.
void MapWindow::updateInfo()
{
    const std::size_t points = m_view->pointCount();
    const CoverageLayer& cells = m_coverage->layer();
    if (!cells.empty() && points == 0 && !live() && !m_follow->running()) {
        m_serialLabel->setText(tr("Coverage map"));
        m_countLabel->setText(tr("%n cell(s)", nullptr, int(cells.shownCells())));
        m_newestLabel->setText(CoverageController::shownName(m_coverage->path()));
        return;
    }
    m_serialLabel->setText(tr("SN: %1").arg(m_serial.isEmpty() ? tr("—") : m_serial));
    m_countLabel->setText(cells.empty() ? tr("%n point(s)", nullptr, int(points))
                                        : tr("%n point(s)", nullptr, int(points)) + QStringLiteral(", ")
                                              + tr("%n cell(s)", nullptr, int(cells.shownCells())));
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
        m_newestLabel->setText(m_follow->running() ? m_follow->describe() : QFileInfo(m_drive->path()).fileName());
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
    m_drive->saveSettings(*m_settings);
    m_settings->sync();
    if (m_settings->status() != QSettings::NoError && m_settingsProblem.isEmpty()) {
        m_settingsProblem = tr("could not save the settings in %1").arg(m_settings->fileName());
        std::fprintf(stderr, "tavrix-map: %s\n", qPrintable(m_settingsProblem));
    }
}

void MapWindow::closeEvent(QCloseEvent* e)
{
    saveSettings();
    m_follow->stop();
    stopLive();
    m_drive->cancel();
    m_coverage->cancel();
    e->accept();
}
