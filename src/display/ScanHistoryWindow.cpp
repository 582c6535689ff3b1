#include "ScanHistoryWindow.h"

#include "display/HoldTraceView.h"
#include "display/PaletteLegend.h"
#include "display/ScanHistory.h"
#include "display/WaterfallView.h"

#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QScrollBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <fstream>

ScanHistoryWindow::ScanHistoryWindow(int receiver, ScanHistory& history, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_receiver(receiver)
    , m_history(history)
{
    setObjectName(QStringLiteral("ScanHistory%1").arg(receiver + 1));
    setWindowTitle(QStringLiteral("Scan History - R%1").arg(receiver + 1));
    setAccessibleName(windowTitle());

    auto* buttons = new QHBoxLayout;
    auto button = [&](const QString& text, const QString& accessible, auto slot) {
        auto* b = new QToolButton(this);
        b->setText(text);
        b->setToolTip(accessible);
        b->setAccessibleName(accessible);
        b->setToolButtonStyle(Qt::ToolButtonTextOnly);
        connect(b, &QToolButton::clicked, this, slot);
        buttons->addWidget(b);
        return b;
    };
    button(QStringLiteral("Reset"), QStringLiteral("Reset holds"), &ScanHistoryWindow::resetHolds);
    button(QStringLiteral("Save PNG..."), QStringLiteral("Export picture as PNG"), &ScanHistoryWindow::exportPngClick);
    button(QStringLiteral("Save CSV..."), QStringLiteral("Export history as CSV"), &ScanHistoryWindow::exportCsvClick);
    buttons->addStretch();

    // What the PNG shows: holds, waterfall and key, without the buttons.
    m_picture = new QWidget(this);
    m_traces = new HoldTraceView(history, m_picture);
    m_traces->setAccessibleName(QStringLiteral("Max, min and average holds"));
    m_waterfall = new WaterfallView(history, m_picture);
    m_waterfall->setAccessibleName(QStringLiteral("Waterfall"));
    auto* legend = new PaletteLegend(WaterfallView::kBottomDbm, WaterfallView::kTopDbm, m_picture);
    legend->setAccessibleName(QStringLiteral("Colour key"));
    auto* pictureLayout = new QVBoxLayout(m_picture);
    pictureLayout->setContentsMargins(0, 0, 0, 0);
    pictureLayout->setSpacing(0);
    pictureLayout->addWidget(m_traces);
    pictureLayout->addWidget(m_waterfall, 1);
    pictureLayout->addWidget(legend);

    m_scroll = new QScrollBar(Qt::Vertical, this);
    m_scroll->setAccessibleName(QStringLiteral("Scroll back in time"));
    m_scroll->setInvertedAppearance(false);
    connect(m_scroll, &QScrollBar::valueChanged, this, [this](int value) {
        if (!m_syncing)
            m_waterfall->setScrollBack(value);
    });
    connect(m_waterfall, &WaterfallView::scrollRangeChanged, this, &ScanHistoryWindow::syncScrollBar);

    m_readout = new QLabel(this);
    m_readout->setAccessibleName(QStringLiteral("Pointed cell"));
    m_readout->setMinimumHeight(18);
    connect(m_waterfall, &WaterfallView::pointed, m_readout, &QLabel::setText);

    auto* middle = new QHBoxLayout;
    middle->setSpacing(0);
    middle->addWidget(m_picture, 1);
    middle->addWidget(m_scroll);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addLayout(middle, 1);
    layout->addWidget(m_readout);
    resize(720, 640);
}

void ScanHistoryWindow::rowsAdded()
{
    m_waterfall->rowsAdded();
    m_traces->holdsChanged();
}

// Hidden, it was told nothing: it catches up in one go.
void ScanHistoryWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    m_waterfall->rebuild();
    m_traces->update();
}

void ScanHistoryWindow::setShowFrequency(bool frequency)
{
    m_traces->setShowFrequency(frequency);
}

void ScanHistoryWindow::resetHolds()
{
    m_history.resetHolds();
    m_traces->update();
}

void ScanHistoryWindow::syncScrollBar()
{
    // The bar's top is now; down goes back in time. Following new rows, the
    // thumb only shrinks as the history grows: redrawn when that shows, not
    // for every row, as the bar costs a paint of its own.
    const int maximum = m_waterfall->maxScrollBack();
    if (m_waterfall->scrollBack() == 0 && m_scroll->value() == 0 && maximum >= m_scroll->maximum()
        && maximum - m_scroll->maximum() < std::max(m_waterfall->visibleRows(), maximum / 100))
        return;
    m_syncing = true;
    m_scroll->setRange(0, m_waterfall->maxScrollBack());
    m_scroll->setPageStep(m_waterfall->visibleRows());
    m_scroll->setValue(m_waterfall->scrollBack());
    m_syncing = false;
}

bool ScanHistoryWindow::exportPng(const QString& path) const
{
    return m_picture->grab().save(path, "PNG");
}

bool ScanHistoryWindow::exportCsv(const QString& path) const
{
    std::ofstream out(path.toStdString(), std::ios::binary | std::ios::trunc);
    if (!out)
        return false;
    m_history.writeCsv(out);
    out.flush();
    return bool(out);
}

void ScanHistoryWindow::exportPngClick()
{
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Export Picture"),
                                                      QDir::home().filePath(QStringLiteral("scan-history-r%1.png").arg(m_receiver + 1)),
                                                      QStringLiteral("PNG images (*.png)"));
    if (!path.isEmpty() && !exportPng(path))
        QMessageBox::warning(this, windowTitle(), QStringLiteral("Could Not Write %1!!").arg(path));
}

void ScanHistoryWindow::exportCsvClick()
{
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Export History"),
                                                      QDir::home().filePath(QStringLiteral("scan-history-r%1.csv").arg(m_receiver + 1)),
                                                      QStringLiteral("CSV files (*.csv)"));
    if (!path.isEmpty() && !exportCsv(path))
        QMessageBox::warning(this, windowTitle(), QStringLiteral("Could Not Write %1!!").arg(path));
}
