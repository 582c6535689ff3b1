#include "DriveController.h"

#include "DriveHistoryPanel.h"
#include "DriveIndexLoader.h"
#include "DriveLoader.h"
#include "MapView.h"
#include "MapWindow.h"
#include "TileMath.h"
#include "display/PaletteLegend.h"
#include "display/WaterfallView.h"
#include "gps/MapBlock.h"

#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QMainWindow>
#include <QProgressBar>
#include <QProgressDialog>
#include <QSettings>
#include <QSpinBox>
#include <QStatusBar>
#include <QToolBar>

DriveController::DriveController(QMainWindow* window, MapView* view, DriveHistoryPanel* history, const QSettings& settings)
    : QObject(window)
    , m_window(window)
    , m_view(view)
    , m_history(history)
    , m_loader(new DriveLoader(this))
    , m_indexLoader(new DriveIndexLoader(this))
{
    // Nothing above the drive's waterfall names its channels: its key does.
    for (PaletteLegend* key : m_history->findChildren<PaletteLegend*>())
        key->showChannelsOf(m_history->waterfall());
    connect(m_loader, &DriveLoader::finished, this, &DriveController::loaded);
    connect(m_indexLoader, &DriveIndexLoader::finished, this, &DriveController::indexed);
    connect(m_history, &DriveHistoryPanel::cursorMoved, this, &DriveController::cursorMoved);
    connect(m_view, &MapView::pointSelected, this, &DriveController::pointSelected);

    m_indexProgress = new QProgressBar(window);
    m_indexProgress->setAccessibleName(tr("Indexing the drive"));
    m_indexProgress->setRange(0, 1000);
    m_indexProgress->setFormat(tr("Indexing %p%"));
    m_indexProgress->setMaximumWidth(200);
    m_indexProgress->hide();
    window->statusBar()->addPermanentWidget(m_indexProgress);
    connect(m_indexLoader, &DriveIndexLoader::progressChanged, m_indexProgress,
            [this](double done) { m_indexProgress->setValue(int(done * 1000)); });

    buildBar(window, settings);
    recolour();
}

void DriveController::buildBar(QMainWindow* window, const QSettings& settings)
{
    m_bar = window->addToolBar(tr("Drive"));
    m_bar->setObjectName(QStringLiteral("driveBar"));
    m_bar->setMovable(false);
    auto label = [this](const QString& text, QWidget* buddy) {
        auto* l = new QLabel(text, m_bar);
        l->setBuddy(buddy);
        m_bar->addWidget(l);
        m_bar->addWidget(buddy);
    };
    m_receiver = new QComboBox(m_bar);
    m_receiver->addItems({tr("Receiver #1"), tr("Receiver #2")});
    m_receiver->setAccessibleName(tr("Receiver"));
    label(tr("&Receiver:"), m_receiver);
    m_measure = new QComboBox(m_bar);
    m_measure->setAccessibleName(tr("Channel or frequency"));
    m_measure->setMinimumContentsLength(22);
    m_measure->addItem(tr("Strongest between fixes"));
    label(tr(" &Channel:"), m_measure);
    m_rangeMin = new QSpinBox(m_bar);
    m_rangeMax = new QSpinBox(m_bar);
    for (QSpinBox* s : {m_rangeMin, m_rangeMax}) {
        s->setRange(MapBlock::kRangeLowest, MapBlock::kRangeHighest); // the logger's range dialog's limits
        s->setSuffix(QStringLiteral(" dBm"));
    }
    m_rangeMin->setValue(settings.value(QStringLiteral("range/minimum"), -120).toInt());
    m_rangeMax->setValue(settings.value(QStringLiteral("range/maximum"), -50).toInt());
    m_rangeMin->setAccessibleName(tr("Colour range minimum"));
    m_rangeMax->setAccessibleName(tr("Colour range maximum"));
    label(tr(" Colour range &from"), m_rangeMin);
    label(tr(" &to"), m_rangeMax);

    connect(m_receiver, &QComboBox::activated, this, [this] {
        m_measure->setCurrentIndex(0);
        m_history->setReceiver(m_receiver->currentIndex());
        reload();
    });
    connect(m_measure, &QComboBox::activated, this, &DriveController::reload);
    connect(m_rangeMin, &QSpinBox::valueChanged, this, &DriveController::recolour);
    connect(m_rangeMax, &QSpinBox::valueChanged, this, &DriveController::recolour);
    m_bar->hide();
}

void DriveController::saveSettings(QSettings& settings) const
{
    settings.setValue(QStringLiteral("range/minimum"), m_rangeMin->value());
    settings.setValue(QStringLiteral("range/maximum"), m_rangeMax->value());
}

RssiPalette DriveController::palette() const
{
    return RssiPalette(m_rangeMin->value(), m_rangeMax->value());
}

void DriveController::open(const QString& path)
{
    m_path = path;
    m_bar->show();
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
    reload();
}

void DriveController::close()
{
    m_loader->cancel();
    m_indexLoader->cancel();
    m_indexProgress->hide();
    m_history->hide();
    m_history->clearDrive();
    m_view->setMarker(std::nullopt);
    m_path.clear();
    m_bar->hide();
}

void DriveController::cancel()
{
    m_loader->cancel();
    m_indexLoader->cancel();
}

void DriveController::reload()
{
    if (m_path.isEmpty())
        return;
    DriveLoader::Choice choice;
    choice.receiver = m_receiver->currentIndex();
    const QVariant m = m_measure->currentData();
    if (m.isValid()) {
        const QPointF v = m.toPointF();
        choice.measure = DriveLoader::Measure{int(v.x()), v.y()};
    }
    m_bar->setEnabled(false);
    m_loader->start(m_path, choice, palette());

    if (!m_progress) {
        m_progress = new QProgressDialog(tr("Reading %1…").arg(QFileInfo(m_path).fileName()), tr("Cancel"), 0, 1000, m_window);
        m_progress->setWindowTitle(QLatin1String(MapWindow::kTitle));
        m_progress->setAccessibleName(tr("Reading the drive"));
        m_progress->setMinimumDuration(300);
        m_progress->setAutoClose(false);
        m_progress->setAutoReset(false);
        connect(m_progress, &QProgressDialog::canceled, m_loader, &DriveLoader::cancel);
        connect(m_loader, &DriveLoader::progressChanged, m_progress,
                [dialog = m_progress](double done) { dialog->setValue(int(done * 1000)); });
    }
    m_progress->setValue(0);
}

void DriveController::loaded()
{
    if (m_progress)
        m_progress->deleteLater();
    DriveLoader::Result r = m_loader->takeResult();
    m_bar->setEnabled(true);
    if (r.cancelled) {
        emit message(tr("Reading cancelled"), StatusMessages::Kind::Notice, 5000);
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
    m_view->setLegend(palette());
    m_view->layersChanged();
    m_view->fitDrive();
    std::size_t beyond = 0;
    for (const PointLayer& l : m_view->layers())
        for (std::size_t i = 0; i < l.size(); ++i)
            beyond += !TileMath::onBaseMap(l.point(i).latitude);
    if (beyond > 0)
        emit message(beyond == 1 ? tr("1 point of this drive lies beyond 85.05° north or south, where the base map "
                                      "ends: it is drawn on its edge")
                                 : tr("%1 points of this drive lie beyond 85.05° north or south, where the base map "
                                      "ends: they are drawn on its edge").arg(beyond),
                     StatusMessages::Kind::Notice, 20000);
    if (!r.summary.whole())
        emit message(tr("The log stops making sense at byte %1: %2; drawn up to there")
                         .arg(r.summary.stopOffset)
                         .arg(QString::fromStdString(r.summary.error)),
                     StatusMessages::Kind::Error, 15000);
    emit drawn();
}

void DriveController::indexed()
{
    m_indexProgress->hide();
    std::shared_ptr<const DriveIndex> index = m_indexLoader->takeIndex();
    if (!index) {
        const QString why = m_indexLoader->error();
        if (!why.isEmpty())
            emit message(tr("No scan history for this drive: %1").arg(why), StatusMessages::Kind::Error, 10000);
        return;
    }
    if (index->records() == 0)
        return;
    m_history->setDrive(m_path, std::move(index));
    m_history->show();
}

void DriveController::cursorMoved(uint64_t record)
{
    const DriveIndex* index = m_history->index();
    const DriveIndex::Position p = index ? index->positionAt(record) : DriveIndex::Position();
    m_view->setMarker(p.placed ? std::optional<QPointF>(TileMath::worldFromGeo(p.latitude, p.longitude)) : std::nullopt);
}

// A dot of a recorded drive moves the time slider to the moment it was read.
// Live, there is no drive's history.
void DriveController::pointSelected()
{
    const DriveIndex* index = m_history->index();
    const MapRenderer::Selection at = m_view->selection();
    if (!index || at.layer < 0)
        return;
    if (const auto record = index->recordAt(m_view->layers()[size_t(at.layer)].point(size_t(at.index)).timeMs))
        m_history->setCursor(*record);
}

// The waterfall under the map colours on the map's range, and its key says
// so: one colour for one reading on the screen.
void DriveController::recolour()
{
    const RssiPalette range = palette();
    m_history->waterfall()->setPalette(range);
    for (PaletteLegend* key : m_history->findChildren<PaletteLegend*>())
        key->setRange(range.minimum(), range.maximum());
    if (m_path.isEmpty() || m_view->layers().empty())
        return;
    for (PointLayer& l : m_view->layers())
        l.recolour(range);
    m_view->setLegend(range);
    m_view->layersChanged();
}
