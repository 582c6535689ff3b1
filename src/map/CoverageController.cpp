#include "CoverageController.h"

#include "CoveragePanel.h"
#include "MapView.h"
#include "TileMath.h"

#include <QDockWidget>
#include <QMainWindow>

CoverageController::CoverageController(QMainWindow* window, MapView* view)
    : QObject(window), m_view(view), m_panel(new CoveragePanel), m_dock(new QDockWidget(tr("Coverage"), window))
{
    m_dock->setObjectName(QStringLiteral("coverageDock"));
    m_dock->setAccessibleName(tr("Coverage map"));
    m_dock->setWidget(m_panel);
    window->addDockWidget(Qt::RightDockWidgetArea, m_dock);
    m_dock->hide();
    connect(m_panel, &CoveragePanel::choiceChanged, this, &CoverageController::choiceChanged);
    connect(m_view, &MapView::clickedAt, this, &CoverageController::clicked);
}

bool CoverageController::isCoverageFile(const QString& path)
{
    return path.endsWith(QLatin1String(".gpkg"), Qt::CaseInsensitive);
}

bool CoverageController::open(const QString& path, QString& error)
{
    std::vector<CoverageMapReader::Cell> cells;
    std::string why;
    if (!CoverageMapReader::read(path.toStdString(), cells, why)) {
        error = QString::fromStdString(why);
        return false;
    }
    m_layer.setCells(std::move(cells));
    m_panel->setFrequencies(m_layer.frequencies());
    m_panel->applyTo(m_layer);
    m_view->setCoverage(&m_layer);
    if (!m_layer.empty())
        m_view->viewport().fit(m_layer.worldBounds());
    m_dock->show();
    m_view->update();
    return true;
}

void CoverageController::close()
{
    m_view->setCoverage(nullptr);
    m_layer.setCells({});
    m_dock->hide();
}

void CoverageController::choiceChanged()
{
    m_panel->applyTo(m_layer);
    m_view->update();
}

void CoverageController::clicked(QPointF world)
{
    if (m_layer.empty())
        return;
    const TileMath::Geo g = TileMath::geoFromWorld(world);
    m_panel->showCell(m_layer.describeAt(g.latitude, g.longitude));
}
