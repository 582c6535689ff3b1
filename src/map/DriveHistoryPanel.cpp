#include "DriveHistoryPanel.h"

#include "display/PaletteLegend.h"
#include "display/WaterfallGeometry.h"
#include "display/WaterfallView.h"
#include "map/WaterfallCursor.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>

DriveHistoryPanel::DriveHistoryPanel(QWidget* parent)
    : QWidget(parent)
    , m_history(kStretchRecords)
{
    setAccessibleName(tr("Scan history along the drive"));
    m_seeker = new DriveSeeker(this);
    connect(m_seeker, &DriveSeeker::ready, this, &DriveHistoryPanel::stretchReady);

    m_slider = new QSlider(Qt::Horizontal, this);
    m_slider->setAccessibleName(tr("Time"));
    m_slider->setAccessibleDescription(tr("Moves the marker along the route and the waterfall's cursor row"));
    connect(m_slider, &QSlider::valueChanged, this, &DriveHistoryPanel::sliderMoved);
    auto* label = new QLabel(tr("&Time:"), this);
    label->setBuddy(m_slider);
    m_time = new QLabel(this);
    m_time->setAccessibleName(tr("Time at the cursor"));
    m_time->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_time->setMinimumWidth(m_time->fontMetrics().horizontalAdvance(QStringLiteral("0000-00-00 00:00:00.000 UTC  ")));

    m_waterfall = new WaterfallView(m_history, this);
    m_waterfall->setAccessibleName(tr("Waterfall"));
    m_waterfall->setAccessibleDescription(tr("Click a row to move the time slider and the marker there"));
    m_waterfall->installEventFilter(this);
    m_cursorLine = new WaterfallCursor(m_waterfall);
    connect(m_waterfall, &WaterfallView::scrollRangeChanged, this, &DriveHistoryPanel::updateCursorLine);
    auto* legend = new PaletteLegend(WaterfallView::kBottomDbm, WaterfallView::kTopDbm, this);
    legend->setAccessibleName(tr("Colour key"));
    m_readout = new QLabel(this);
    m_readout->setAccessibleName(tr("Pointed cell"));
    m_readout->setMinimumHeight(18);
    connect(m_waterfall, &WaterfallView::pointed, m_readout, &QLabel::setText);

    auto* top = new QHBoxLayout;
    top->addWidget(label);
    top->addWidget(m_slider, 1);
    top->addWidget(m_time);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->setSpacing(2);
    layout->addLayout(top);
    layout->addWidget(m_waterfall, 1);
    layout->addWidget(legend);
    layout->addWidget(m_readout);
    setEnabled(false);
}

// The worker is joined, and the waterfall goes, before the history it shows.
DriveHistoryPanel::~DriveHistoryPanel()
{
    delete m_seeker;
    delete m_waterfall;
}

void DriveHistoryPanel::setDrive(const QString& path, std::shared_ptr<const DriveIndex> index)
{
    m_index = std::move(index);
    m_seeker->setDrive(path, m_index);
    m_stretch.reset();
    m_requested.reset();
    m_history.clear();
    m_rowRecords.clear();
    m_waterfall->rebuild();
    const uint64_t records = m_index ? m_index->records() : 0;
    m_sliderScale = std::max<uint64_t>(1, (records + INT_MAX - 1) / INT_MAX);
    {
        const QSignalBlocker block(m_slider);
        m_slider->setRange(0, records ? int((records - 1) / m_sliderScale) : 0);
        // A step of about a second, a page of about a minute, as the fixes tell.
        uint64_t perSecond = 1;
        if (m_index && m_index->fixes().size() >= 2) {
            const DriveFix& a = m_index->fixes().front();
            const DriveFix& b = m_index->fixes().back();
            if (b.timeMs > a.timeMs)
                perSecond = std::max<uint64_t>(1, (b.record - a.record) * 1000 / uint64_t(b.timeMs - a.timeMs));
        }
        const uint64_t step = std::max<uint64_t>(1, perSecond / m_sliderScale);
        m_slider->setSingleStep(int(std::min<uint64_t>(step, INT_MAX)));
        m_slider->setPageStep(int(std::min<uint64_t>(60 * step, INT_MAX)));
    }
    setEnabled(records > 0);
    m_cursor = 0;
    if (records > 0)
        setCursor(m_index->fixes().empty() ? 0 : m_index->fixes().front().record);
}

void DriveHistoryPanel::clearDrive()
{
    setDrive(QString(), nullptr);
    m_time->clear();
    m_cursorLine->setRowY(-1);
}

void DriveHistoryPanel::setReceiver(int receiver)
{
    if (receiver == m_receiver)
        return;
    m_receiver = receiver;
    if (m_stretch) {
        showStretch();
        placeCursorRow(true);
    }
}

void DriveHistoryPanel::setCursor(uint64_t record)
{
    moveCursor(record, true);
}

void DriveHistoryPanel::sliderMoved(int value)
{
    moveCursor(uint64_t(value) * m_sliderScale, true);
}

void DriveHistoryPanel::moveCursor(uint64_t record, bool centre)
{
    if (!m_index || m_index->records() == 0)
        return;
    m_cursor = std::min(record, m_index->records() - 1);
    {
        const QSignalBlocker block(m_slider);
        m_slider->setValue(int(m_cursor / m_sliderScale));
    }
    m_time->setText(timeText(m_index->positionAt(m_cursor)));
    emit cursorMoved(m_cursor);
    if (!covers(m_cursor))
        requestStretch();
    placeCursorRow(centre);
}

QString DriveHistoryPanel::timeText(const DriveIndex::Position& position)
{
    if (!position.placed)
        return tr("No position here: no fix around");
    return QDateTime::fromMSecsSinceEpoch(position.timeMs, Qt::UTC).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz 'UTC'"));
}

bool DriveHistoryPanel::covers(uint64_t record) const
{
    if (!m_stretch)
        return false;
    const uint64_t from = m_stretch->from, to = m_stretch->to;
    const bool atStart = from == 0, atEnd = to >= m_index->records();
    return record >= from && record < to && (atStart || record >= from + kMarginRecords)
           && (atEnd || record + kMarginRecords < to);
}

bool DriveHistoryPanel::settled() const
{
    return m_index && covers(m_cursor);
}

void DriveHistoryPanel::requestStretch()
{
    const uint64_t records = m_index->records();
    const uint64_t half = kStretchRecords / 2;
    uint64_t from = m_cursor > half ? m_cursor - half : 0;
    const uint64_t to = std::min(records, from + kStretchRecords);
    from = to > kStretchRecords ? to - kStretchRecords : 0;
    const std::pair<uint64_t, uint64_t> stretch{from, to};
    if (m_requested == stretch)
        return;
    m_requested = stretch;
    m_seeker->request(from, to);
}

void DriveHistoryPanel::stretchReady()
{
    std::optional<DriveSeeker::Stretch> s = m_seeker->take();
    if (!s || !m_index)
        return;
    m_stretch = std::move(s);
    showStretch();
    placeCursorRow(true);
    // The cursor went on while this stretch was read.
    if (!covers(m_cursor))
        requestStretch();
    emit stretchShown();
}

void DriveHistoryPanel::showStretch()
{
    m_history.clear();
    m_rowRecords.clear();
    ReceiverSettings now;
    for (const DriveReports::Report& r : m_stretch->reports) {
        if (r.receiver != m_receiver)
            continue;
        if (r.report.kind == SampleReport::Kind::Settings) {
            now = *r.report.settings;
        } else {
            now.current = r.current;
            m_rowRecords.push_back(r.record);
        }
        m_history.add(r.report, now);
    }
}

std::optional<uint64_t> DriveHistoryPanel::cursorRow() const
{
    const auto after = std::upper_bound(m_rowRecords.begin(), m_rowRecords.end(), m_cursor);
    if (after == m_rowRecords.begin() || m_history.empty())
        return std::nullopt;
    // A cursor past the stretch read stands on no row of it.
    if (!m_stretch || m_cursor >= m_stretch->to)
        return std::nullopt;
    return m_history.firstRow() + uint64_t(after - m_rowRecords.begin() - 1);
}

void DriveHistoryPanel::placeCursorRow(bool centre)
{
    const std::optional<uint64_t> row = cursorRow();
    if (centre) {
        // The cursor row in the middle, or as near as the stretch allows;
        // before the receiver's first row (the log's start), its oldest rows.
        const uint64_t anchor = row ? *row : m_history.firstRow();
        const uint64_t top = anchor + uint64_t(m_waterfall->visibleRows() / 2);
        const uint64_t end = m_history.endRow();
        m_waterfall->setScrollBack(int(std::min<uint64_t>(INT_MAX, end > top + 1 ? end - top - 1 : 0)));
    }
    updateCursorLine();
}

void DriveHistoryPanel::updateCursorLine()
{
    const std::optional<uint64_t> row = cursorRow();
    m_cursorLine->setRowY(row ? m_waterfall->cellCentre(*row, 0).y() : -1);
}

bool DriveHistoryPanel::eventFilter(QObject* watched, QEvent* event)
{
    // A new height shows more or fewer rows: the cursor row back in the middle.
    if (watched == m_waterfall && event->type() == QEvent::Resize && m_stretch)
        placeCursorRow(true);
    if (watched == m_waterfall && event->type() == QEvent::MouseButtonPress && m_index && !m_history.empty()) {
        const auto* e = static_cast<QMouseEvent*>(event);
        if (e->button() == Qt::LeftButton) {
            // The top row is the newest shown; each row below is one report older.
            const uint64_t top = m_history.endRow() - 1 - uint64_t(m_waterfall->scrollBack());
            const int y = int(e->position().y());
            const uint64_t back = uint64_t(std::max(0, y) / WaterfallGeometry::kRowHeight);
            if (y >= 0 && top >= m_history.firstRow() + back) {
                moveCursor(recordOfRow(top - back), false);
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}
