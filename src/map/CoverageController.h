#pragma once

#include "CoverageLayer.h"

#include <QObject>
#include <QPointF>
#include <QString>

#include <optional>

class CoverageMapLoader;
class CoveragePanel;
class MapView;
class QDockWidget;
class QLabel;
class QMainWindow;
class QProgressBar;
class SharedMapWatcher;

// Coverage maps in tavrix-map: opens one, draws its cells in the view, and
// ties the choices and the clicked cell's figures in a dock beside the map;
// a read's progress shows in the window's status bar.
class CoverageController : public QObject
{
    Q_OBJECT
public:
    CoverageController(QMainWindow* window, MapView* view);

    // Reads the map on a worker; `opened` says when it is drawn, or why not.
    // A read still running is dropped.
    void open(const QString& path);
    // Drops a read still running: the user went on to another file.
    void cancel();
    bool reading() const;
    // 0 to 1; below 0 while the map does not say how many cells it holds.
    double progress() const;
    void close();
    // A followed log's cells, drawn as they come: startLive() empties the
    // map and shows the panel, updateLive() adds or replaces cells and
    // keeps the panel's choices. The caller repaints.
    void startLive(const QString& name);
    void updateLive(const std::vector<CoverageMapReader::Cell>& cells);
    // 0 both, 1 or 2; and the frequency chosen, 0 for every one.
    int chosenReceiver() const { return m_layer.receiver(); }
    double chosenFrequency() const { return m_layer.frequency(); }

    const CoverageLayer& layer() const { return m_layer; }
    QString path() const { return m_path; } // of the map drawn; empty: none
    CoveragePanel* panel() const { return m_panel; }
    QDockWidget* dock() const { return m_dock; }

    // A .gpkg file, or a shared map in PostgreSQL ("PG:" and libpq's connection text).
    static bool isCoverageFile(const QString& path);
    // The map's name as the window shows it: a file's name; a shared map's
    // connection text without its password.
    static QString shownName(const QString& path);

    // A shared map is read again, keeping the view (centre, zoom, choices,
    // the clicked cell), when another upload commits or the connection
    // comes back. A reload asked for while one runs comes once after it.
    void reload();
    SharedMapWatcher* sharedWatcher() const { return m_shared; }

signals:
    // The latest map asked for: drawn when `error` is empty, else why not
    // (and the map drawn before stays).
    void opened(const QString& path, const QString& error);
    // After `opened`: what the user should know about the map drawn.
    void notice(const QString& text);
    // As progress() says, while a map is read.
    void progressChanged(double done);
    // Other cells are drawn: another map, other choices, or none.
    void cellsChanged();
    // The shared map in the database changed (uploads committed, or may have
    // while the connection was down): once for each reload of the cells, a
    // burst of uploads being one. Whatever else reads the same database
    // (the acceptance tiles) reads it again here.
    void sharedMapChanged();
    // The receiver or the frequency chosen changed.
    void choiceChanged();

private:
    void onRead();
    void onReloaded();
    void watchShared(QMainWindow* window);
    void listened();
    void watchDrawn();
    void applyChoice();
    void clicked(QPointF world);

    MapView* m_view;
    CoverageLayer m_layer;
    CoveragePanel* m_panel;
    QDockWidget* m_dock;
    CoverageMapLoader* m_loader;
    QProgressBar* m_progress;
    QString m_path;
    SharedMapWatcher* m_shared;
    QLabel* m_sharedState; // the shared map's connection, in the status bar
    bool m_sharedLive = false;  // listening; a drop is said once
    QString m_listenFirst;      // a shared map to read once the watcher listens, or failed to
    bool m_reloading = false;   // the loader's read is a reload of m_path
    bool m_reloadAgain = false; // uploads committed since the running read began
    bool m_catchUp = false;     // listening again to the map drawn: read it once connected
    std::optional<QPointF> m_clicked; // world coordinates of the cell clicked last
};
