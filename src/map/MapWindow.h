#pragma once

#include "DriveLoader.h"
#include "FollowController.h"
#include "LivePointFeed.h"
#include "StatusMessages.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QString>

#include <memory>

class CoverageController;
class DriveController;
class DriveHistoryPanel;
class DriveIndexLoader;
class LiveController;
class MapView;
class QAction;
class QActionGroup;
class QLabel;
class QSettings;
class QTimer;
class TileSource;

// tavrix-map's window: the map, live from the logger's map block, a recorded
// drive from a .KLF log or a coverage map, over a base map of network tiles,
// an MBTiles file or a plain grid. Each source has its controller; the
// window holds the menus, the base map, the status bar and the settings.
class MapWindow : public QMainWindow
{
    Q_OBJECT
public:
    static constexpr char kTitle[] = "Tavrix Map";

    enum class BaseMap { Network, MbTiles, Grid };

    struct Options
    {
        QString settingsFile;     // empty: the user's settings
        QString tileUrl;          // empty: from the settings, else OpenStreetMap's
        QString tileCacheDir;     // empty: the user's cache folder
        QString mbtiles;          // an MBTiles file instead of the network
        bool grid = false;        // neither: the grid only
        QString blockName = QStringLiteral("ZKTPELLORN");
        bool poll = false;        // poll the block even with a session bus
    };

    explicit MapWindow(const Options& options, QWidget* parent = nullptr);
    ~MapWindow() override;

    MapView* view() const { return m_view; }
    LivePointFeed* feed() const;
    DriveLoader* loader() const;
    // The recorded drive's index, built once a drive is opened; `finished` says when.
    DriveIndexLoader* indexLoader() const;
    DriveHistoryPanel* history() const { return m_history; }
    BaseMap baseMap() const { return m_baseMap; }
    TileSource* tileSource() const { return m_tiles.get(); }
    QString info() const; // the status fields as one line
    QString statusMessage() const; // the message the status bar shows; empty: the fields show
    QString settingsProblem() const { return m_settingsProblem; } // why the settings were not saved

    void startLive();
    void stopLive();
    bool live() const;
    // Reads a drive; `finished` on the loader says when it is drawn.
    void openDrive(const QString& path);
    // Reads a coverage map made by klf-coverage and draws it; `opened` on
    // coverage() says when, or why not.
    void openCoverage(const QString& path);
    CoverageController* coverage() const { return m_coverage; }
    // Follows a log as the logger writes it; what the options of FollowController say.
    void follow(const FollowController::Options& options);
    FollowController* follower() const { return m_follow; }
    DriveController* drive() const { return m_drive; }
    LiveController* liveFeed() const { return m_live; }
    bool exportImage(const QString& path);
    bool useMbTiles(const QString& path);
    void useNetworkTiles();
    void useGrid();

protected:
    void closeEvent(QCloseEvent*) override;

private:
    void buildMenus();
    void buildStatus();
    void openDatabase();
    void onCoverageOpened(const QString& path, const QString& error);
    void updateInfo();
    void saveSettings();
    // One message at a time, in place of the status fields; errors first.
    void say(const QString& text, StatusMessages::Kind kind, int forMs);
    void showStatusMessage();
    void setBase(std::unique_ptr<TileSource> tiles, BaseMap kind);

    Options m_options;
    bool m_rememberBase = true; // false while the command line's base map is applied
    std::unique_ptr<QSettings> m_settings;
    MapView* m_view = nullptr;
    std::unique_ptr<TileSource> m_tiles;
    BaseMap m_baseMap = BaseMap::Grid;
    DriveHistoryPanel* m_history = nullptr;
    LiveController* m_live = nullptr;
    DriveController* m_drive = nullptr;
    CoverageController* m_coverage = nullptr;
    FollowController* m_follow = nullptr;
    QString m_serial; // of the dots drawn last, live or recorded

    QAction* m_liveAction = nullptr;
    QAction* m_followAction = nullptr;
    QActionGroup* m_baseGroup = nullptr;
    QAction* m_networkAction = nullptr;
    QAction* m_mbtilesAction = nullptr;
    QAction* m_gridAction = nullptr;
    QLabel* m_serialLabel = nullptr;
    QLabel* m_countLabel = nullptr;
    QLabel* m_newestLabel = nullptr;
    QLabel* m_pointLabel = nullptr;
    QLabel* m_messageLabel = nullptr;
    StatusMessages m_messages;
    bool m_cacheProblemSaid = false;
    QString m_settingsProblem; // said once a run
    QTimer* m_messageTimer = nullptr;
    QElapsedTimer m_clock;
};
