#pragma once

#include "display/ScanHistory.h"
#include "drive/DriveIndex.h"
#include "map/DriveSeeker.h"

#include <QWidget>

#include <memory>
#include <optional>
#include <vector>

class QLabel;
class QSlider;
class WaterfallCursor;
class WaterfallView;

// Below the map of a recorded drive: the receiver's scan history as the
// logger showed it live, with a time slider over the whole drive. The slider,
// a click on a waterfall row and a click on the map all move one cursor (a
// record of the log); the map's marker follows `cursorMoved`.
//
// Only the reports around the cursor are in memory: a stretch of
// kStretchRecords records, read through the drive's index on a worker when
// the cursor comes near its ends, so an 8-hour log costs no more than a
// short one.
class DriveHistoryPanel : public QWidget
{
    Q_OBJECT
public:
    // Some 43 s of scan reports at the line rate: 8192 rows per receiver at
    // most, some 2 MB with both receivers' reports kept.
    static constexpr uint64_t kStretchRecords = 8192;
    // Closer than this to an end of the stretch (not the drive's), the next
    // stretch is read around the cursor.
    static constexpr uint64_t kMarginRecords = 1024;

    explicit DriveHistoryPanel(QWidget* parent = nullptr);
    ~DriveHistoryPanel() override;

    void setDrive(const QString& path, std::shared_ptr<const DriveIndex> index);
    void clearDrive();
    const DriveIndex* index() const { return m_index.get(); }
    // 0 (R1) or 1 (R2).
    void setReceiver(int receiver);
    int receiver() const { return m_receiver; }

    // Moves the slider, the waterfall's cursor row (centred) and the marker.
    void setCursor(uint64_t record);
    uint64_t cursor() const { return m_cursor; }

    QSlider* slider() const { return m_slider; }
    QLabel* timeLabel() const { return m_time; }
    WaterfallView* waterfall() const { return m_waterfall; }
    WaterfallCursor* cursorLine() const { return m_cursorLine; }
    const ScanHistory& history() const { return m_history; }
    // The history row the cursor stands on: the receiver's last report at or
    // before the cursor, within the stretch read.
    std::optional<uint64_t> cursorRow() const;
    uint64_t recordOfRow(uint64_t row) const { return m_rowRecords.at(std::size_t(row - m_history.firstRow())); }
    // The stretch around the cursor is in the waterfall.
    bool settled() const;

    // "2004-03-09 08:00:10.488 UTC", or that the log has no position there.
    static QString timeText(const DriveIndex::Position& position);

signals:
    void cursorMoved(uint64_t record);
    // A stretch read for the cursor is in the waterfall.
    void stretchShown();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void moveCursor(uint64_t record, bool centre);
    void sliderMoved(int value);
    void stretchReady();
    void showStretch();
    void placeCursorRow(bool centre);
    void updateCursorLine();
    bool covers(uint64_t record) const;
    void requestStretch();

    std::shared_ptr<const DriveIndex> m_index;
    DriveSeeker* m_seeker = nullptr;
    ScanHistory m_history;
    std::vector<uint64_t> m_rowRecords; // the record of each history row
    std::optional<DriveSeeker::Stretch> m_stretch;
    std::optional<std::pair<uint64_t, uint64_t>> m_requested; // records from, to
    uint64_t m_cursor = 0;
    int m_receiver = 0;
    uint64_t m_sliderScale = 1; // records per slider step: a slider counts in int

    QSlider* m_slider = nullptr;
    QLabel* m_time = nullptr;
    WaterfallView* m_waterfall = nullptr;
    WaterfallCursor* m_cursorLine = nullptr;
    QLabel* m_readout = nullptr;
};
