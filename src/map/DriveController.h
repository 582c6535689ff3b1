#pragma once

#include "StatusMessages.h"
#include "protocol/RssiPalette.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>

class DriveHistoryPanel;
class DriveIndexLoader;
class DriveLoader;
class MapView;
class QComboBox;
class QMainWindow;
class QProgressBar;
class QProgressDialog;
class QSettings;
class QSpinBox;
class QToolBar;

// A recorded drive in tavrix-map: reads a .KLF log into dots on the view, for
// one receiver and measure chosen on the drive bar, coloured on the bar's
// range; indexes it for the scan history below the map, whose time slider
// and the map's marker and dots move together.
class DriveController : public QObject
{
    Q_OBJECT
public:
    // The history panel is placed by the window; the drive bar and the
    // indexing's progress go into it. The colour range comes from settings.
    DriveController(QMainWindow* window, MapView* view, DriveHistoryPanel* history, const QSettings& settings);

    // Reads a drive; `drawn` says when its dots are in the view.
    void open(const QString& path);
    // Another source takes the view: the drive's reads stop, its bar and history go.
    void close();
    // Stops the reads: the window is closing.
    void cancel();
    void saveSettings(QSettings& settings) const;

    QString path() const { return m_path; } // empty: no drive
    // The device's serial number, from the drive drawn last.
    QString serial() const { return m_serial; }
    // The colour range on the bar, for a recorded drive and its history.
    RssiPalette palette() const;
    DriveLoader* loader() const { return m_loader; }
    DriveIndexLoader* indexLoader() const { return m_indexLoader; }

signals:
    // The drive's dots are in the view.
    void drawn();
    // What the user should know, for the status bar.
    void message(const QString& text, StatusMessages::Kind kind, int forMs);

private:
    void buildBar(QMainWindow* window, const QSettings& settings);
    void reload();
    void loaded();
    void indexed();
    void cursorMoved(uint64_t record);
    void pointSelected();
    void recolour();

    QMainWindow* m_window;
    MapView* m_view;
    DriveHistoryPanel* m_history;
    DriveLoader* m_loader;
    DriveIndexLoader* m_indexLoader;
    QString m_path;
    QString m_serial;
    QPointer<QProgressDialog> m_progress;
    QProgressBar* m_indexProgress = nullptr;
    QToolBar* m_bar = nullptr;
    QComboBox* m_receiver = nullptr;
    QComboBox* m_measure = nullptr;
    QSpinBox* m_rangeMin = nullptr;
    QSpinBox* m_rangeMax = nullptr;
};
