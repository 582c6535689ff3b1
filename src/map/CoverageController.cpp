#include "CoverageController.h"

#include "CoverageMapLoader.h"
#include "CoveragePanel.h"
#include "MapView.h"
#include "TileMath.h"

#include <QComboBox>
#include <QDockWidget>
#include <QMainWindow>
#include <QProgressBar>
#include <QSignalBlocker>
#include <QStatusBar>


CoverageController::CoverageController(QMainWindow* window, MapView* view)
    : QObject(window), m_view(view), m_panel(new CoveragePanel), m_dock(new QDockWidget(tr("Coverage"), window)),
      m_loader(new CoverageMapLoader(this)), m_progress(new QProgressBar(window))
{
    m_dock->setObjectName(QStringLiteral("coverageDock"));
    m_dock->setAccessibleName(tr("Coverage map"));
    m_dock->setWidget(m_panel);
    window->addDockWidget(Qt::RightDockWidgetArea, m_dock);
    m_dock->hide();
    connect(m_panel, &CoveragePanel::choiceChanged, this, &CoverageController::applyChoice);
    connect(m_view, &MapView::clickedAt, this, &CoverageController::clicked);
    connect(m_loader, &CoverageMapLoader::finished, this, &CoverageController::onRead);
    connect(m_loader, &CoverageMapLoader::progressChanged, this, &CoverageController::progressChanged);

    m_progress->setAccessibleName(tr("Reading the coverage map"));
    m_progress->setFormat(tr("Reading the coverage map %p%"));
    // Wide enough for its words on one line: the status bar would squeeze it.
    m_progress->setMinimumWidth(m_progress->fontMetrics().horizontalAdvance(
                                    m_progress->format().replace(QStringLiteral("%p"), QStringLiteral("100")))
                                + 40);
    m_progress->hide();
    window->statusBar()->addPermanentWidget(m_progress);
    connect(m_loader, &CoverageMapLoader::progressChanged, m_progress, [this](double done) {
        // A map that does not say how many cells it holds shows a busy bar.
        m_progress->setRange(0, done < 0 ? 0 : 1000);
        m_progress->setValue(done < 0 ? 0 : int(done * 1000));
    });
}

bool CoverageController::isCoverageFile(const QString& path)
{
    return path.endsWith(QLatin1String(".gpkg"), Qt::CaseInsensitive);
}

void CoverageController::open(const QString& path)
{
    m_loader->start(path);
    m_progress->setRange(0, 1000);
    m_progress->setValue(0);
    m_progress->show();
}

void CoverageController::cancel()
{
    m_loader->cancel();
    m_progress->hide();
}

bool CoverageController::reading() const
{
    return m_loader->running();
}

double CoverageController::progress() const
{
    return m_loader->progress();
}

void CoverageController::onRead()
{
    m_progress->hide();
    CoverageMapLoader::Result r = m_loader->takeResult();
    if (!r.error.isEmpty()) {
        emit opened(r.path, r.error);
        return;
    }
    // The view keeps pointing at m_layer: the read layer moves into it.
    m_layer = std::move(r.layer);
    m_path = r.path;
    {
        // The choices go back to the first ones, which the read layer has:
        // no pass over the cells for each box on the way.
        const QSignalBlocker quiet(m_panel);
        m_panel->setFrequencies(m_layer.frequencySummaries());
    }
    m_panel->applyTo(m_layer);
    m_view->setCoverage(&m_layer);
    if (!r.worldBounds.isNull() || !r.worldBounds.topLeft().isNull())
        m_view->viewport().fit(r.worldBounds);
    m_dock->show();
    m_view->update();
    emit cellsChanged();
    emit opened(r.path, QString());
    if (r.beyondBaseMap > 0)
        emit notice(r.beyondBaseMap == 1
                        ? tr("1 cell of this map lies beyond 85.05° north or south, where the base map ends: "
                             "it is not drawn")
                        : tr("%1 cells of this map lie beyond 85.05° north or south, where the base map ends: "
                             "they are not drawn").arg(r.beyondBaseMap));
}

void CoverageController::close()
{
    m_view->setCoverage(nullptr);
    m_layer.setCells({});
    m_path.clear();
    m_dock->hide();
    emit cellsChanged();
}

void CoverageController::startLive(const QString& name)
{
    cancel();
    m_layer.setCells({});
    {
        // The crew's figure and receiver stay through a log started over;
        // the frequencies are the new log's.
        const QSignalBlocker quiet(m_panel);
        const int figure = m_panel->figureBox()->currentIndex(), receiver = m_panel->receiverBox()->currentIndex();
        m_panel->setFrequencies({});
        m_panel->figureBox()->setCurrentIndex(figure);
        m_panel->receiverBox()->setCurrentIndex(receiver);
    }
    m_panel->applyTo(m_layer);
    m_path = name;
    m_view->setCoverage(&m_layer);
    m_dock->show();
    emit cellsChanged();
}

void CoverageController::updateLive(const std::vector<CoverageMapReader::Cell>& cells)
{
    if (cells.empty())
        return;
    m_layer.updateCells(cells);
    m_panel->refreshFrequencies(m_layer.frequencySummaries());
    if (m_layer.hasSelection())
        m_panel->showCell(m_layer.describeSelected());
    emit cellsChanged();
}

void CoverageController::applyChoice()
{
    m_panel->applyTo(m_layer);
    // The clicked cell's figures follow the choice, as its colour does.
    if (m_layer.hasSelection())
        m_panel->showCell(m_layer.describeSelected());
    m_view->update();
    emit cellsChanged();
    emit choiceChanged();
}

void CoverageController::clicked(QPointF world)
{
    if (m_layer.empty())
        return;
    const TileMath::Geo g = TileMath::geoFromWorld(world);
    m_layer.select(g.latitude, g.longitude);
    m_panel->showCell(m_layer.describeSelected());
    m_view->update();
}
