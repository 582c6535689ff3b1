#pragma once

#include "CoverageLayer.h"

#include <QObject>
#include <QString>

class CoveragePanel;
class MapView;
class QDockWidget;
class QMainWindow;

// Coverage maps in tavrix-map: opens one, draws its cells in the view, and
// ties the choices and the clicked cell's figures in a dock beside the map.
class CoverageController : public QObject
{
    Q_OBJECT
public:
    CoverageController(QMainWindow* window, MapView* view);

    // False with a reason when the file is not a coverage map.
    bool open(const QString& path, QString& error);
    void close();

    const CoverageLayer& layer() const { return m_layer; }
    CoveragePanel* panel() const { return m_panel; }
    QDockWidget* dock() const { return m_dock; }

    static bool isCoverageFile(const QString& path);

private:
    void choiceChanged();
    void clicked(QPointF world);

    MapView* m_view;
    CoverageLayer m_layer;
    CoveragePanel* m_panel;
    QDockWidget* m_dock;
};
