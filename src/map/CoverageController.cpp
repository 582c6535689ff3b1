#include "CoverageController.h"

#include "CoverageMapLoader.h"
#include "CoveragePanel.h"
#include "MapView.h"
#include "SharedMapWatcher.h"
#include "TileMath.h"

#include "coverage/PgSource.h"

#include <QComboBox>
#include <QDockWidget>
#include <QFileInfo>
#include <QLabel>
#include <QMainWindow>
#include <QProgressBar>
#include <QSignalBlocker>
#include <QStatusBar>

#include <algorithm>
#include <utility>


CoverageController::CoverageController(QMainWindow* window, MapView* view)
    : QObject(window), m_view(view), m_panel(new CoveragePanel), m_dock(new QDockWidget(tr("Coverage"), window)),
      m_loader(new CoverageMapLoader(this)), m_progress(new QProgressBar(window)),
      m_shared(new SharedMapWatcher(this)), m_sharedState(new QLabel(window))
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
    watchShared(window);
}

void CoverageController::watchShared(QMainWindow* window)
{
    m_sharedState->setAccessibleName(tr("Shared map connection"));
    m_sharedState->hide();
    window->statusBar()->addPermanentWidget(m_sharedState);
    connect(m_shared, &SharedMapWatcher::connected, this, [this] {
        m_sharedLive = true;
        m_sharedState->setText(tr("Shared map: live"));
        m_sharedState->show();
        listened();
        if (std::exchange(m_catchUp, false))
            reload();
    });
    connect(m_shared, &SharedMapWatcher::changed, this, &CoverageController::reload);
    connect(m_shared, &SharedMapWatcher::lost, this, [this](const QString& why, int retryMs) {
        const int seconds = (retryMs + 999) / 1000;
        // Said once when it drops; the field keeps saying it through the retries.
        if (std::exchange(m_sharedLive, false))
            emit notice(tr("Lost the connection to the shared map: %1").arg(why));
        m_sharedState->setText(tr("Shared map: no connection (%1); trying again in %n s", nullptr, seconds).arg(why));
        m_sharedState->show();
        listened();
    });
    connect(m_shared, &SharedMapWatcher::reconnected, this, [this] {
        m_sharedLive = true;
        m_catchUp = false; // the reload below is it
        m_sharedState->setText(tr("Shared map: live"));
        emit notice(tr("Connected to the shared map again: reading it for the uploads made meanwhile"));
        reload();
    });
}

bool CoverageController::isCoverageFile(const QString& path)
{
    return path.endsWith(QLatin1String(".gpkg"), Qt::CaseInsensitive) || PgSource::is(path.toStdString());
}

QString CoverageController::shownName(const QString& path)
{
    return PgSource::is(path.toStdString()) ? QString::fromStdString(PgSource::shown(path.toStdString()))
                                            : QFileInfo(path).fileName();
}

void CoverageController::open(const QString& path)
{
    m_reloading = m_reloadAgain = m_catchUp = false;
    m_listenFirst.clear();
    m_progress->setRange(0, 1000);
    m_progress->setValue(0);
    m_progress->show();
    if (PgSource::is(path.toStdString()) && m_shared->source() != path) {
        // Listening before reading: an upload that commits while the map
        // is read is then told, and read once more after.
        m_loader->cancel();
        m_listenFirst = path;
        m_sharedLive = false;
        m_shared->start(path);
        return;
    }
    m_loader->start(path);
}

// Reads the map asked for once listening, or once listening failed: the
// read says why, or draws the map while the watcher tries again.
void CoverageController::listened()
{
    if (!m_listenFirst.isEmpty())
        m_loader->start(std::exchange(m_listenFirst, QString()));
}

// The watcher follows the map drawn, not one that failed to open.
void CoverageController::watchDrawn()
{
    if (PgSource::is(m_path.toStdString())) {
        if (m_shared->source() != m_path) {
            // Uploads may commit while it listens elsewhere: read once listening again.
            m_sharedLive = false;
            m_catchUp = true;
            m_shared->start(m_path);
        }
        return;
    }
    m_shared->stop();
    m_sharedState->hide();
    m_sharedLive = false;
}

void CoverageController::cancel()
{
    m_reloading = m_reloadAgain = false;
    if (!std::exchange(m_listenFirst, QString()).isEmpty())
        watchDrawn();
    m_loader->cancel();
    m_progress->hide();
}

bool CoverageController::reading() const
{
    return m_loader->running() || !m_listenFirst.isEmpty();
}

double CoverageController::progress() const
{
    return m_loader->progress();
}

void CoverageController::onRead()
{
    if (m_reloading) {
        onReloaded();
        return;
    }
    m_progress->hide();
    CoverageMapLoader::Result r = m_loader->takeResult();
    if (!r.error.isEmpty()) {
        watchDrawn();
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
    m_clicked.reset();
    watchDrawn();
    emit cellsChanged();
    emit opened(r.path, QString());
    // Uploads that committed while the map was being opened.
    if (std::exchange(m_reloadAgain, false) && PgSource::is(m_path.toStdString()))
        reload();
    if (r.beyondBaseMap > 0)
        emit notice(r.beyondBaseMap == 1
                        ? tr("1 cell of this map lies beyond 85.05° north or south, where the base map ends: "
                             "it is not drawn")
                        : tr("%1 cells of this map lie beyond 85.05° north or south, where the base map ends: "
                             "they are not drawn").arg(r.beyondBaseMap));
}

void CoverageController::reload()
{
    if (m_path.isEmpty() || !PgSource::is(m_path.toStdString()))
        return;
    // The running read may have begun before the upload committed.
    if (m_loader->running()) {
        m_reloadAgain = true;
        return;
    }
    m_reloading = true;
    m_loader->start(m_path);
    emit sharedMapChanged();
}

void CoverageController::onReloaded()
{
    m_reloading = false;
    CoverageMapLoader::Result r = m_loader->takeResult();
    if (!r.error.isEmpty()) {
        // The cells drawn stay; the next upload or reconnection tries again.
        emit notice(tr("Could not read the shared map again: %1").arg(r.error));
    } else {
        const int figure = m_panel->figureBox()->currentIndex();
        const int receiver = m_panel->receiverBox()->currentIndex();
        const QVariant frequency = m_panel->frequencyBox()->currentData();
        m_layer = std::move(r.layer);
        {
            const QSignalBlocker quiet(m_panel);
            m_panel->setFrequencies(m_layer.frequencySummaries());
            m_panel->figureBox()->setCurrentIndex(figure);
            m_panel->receiverBox()->setCurrentIndex(receiver);
            m_panel->frequencyBox()->setCurrentIndex(std::max(0, m_panel->frequencyBox()->findData(frequency)));
        }
        m_panel->applyTo(m_layer);
        m_view->setCoverage(&m_layer);
        if (m_clicked) {
            const TileMath::Geo g = TileMath::geoFromWorld(*m_clicked);
            m_layer.select(g.latitude, g.longitude);
            m_panel->showCell(m_layer.describeSelected());
        }
        m_view->update();
        emit cellsChanged();
    }
    if (std::exchange(m_reloadAgain, false))
        reload();
}

void CoverageController::close()
{
    if (m_reloading)
        m_loader->cancel();
    m_reloading = m_reloadAgain = false;
    m_listenFirst.clear();
    m_shared->stop();
    m_sharedState->hide();
    m_sharedLive = false;
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
    m_clicked = world;
    m_layer.select(g.latitude, g.longitude);
    m_panel->showCell(m_layer.describeSelected());
    m_view->update();
}
