#pragma once

#include <QFuture>
#include <QImage>
#include <QWidget>

class QDateTime;

class HoldTraceView;
class QLabel;
class QScrollBar;
class QToolButton;
class ScanHistory;
class WaterfallView;

// A receiver's "Scan History" window: max, min and average holds above a
// waterfall of every report, a colour key, and what the pointer is over.
// The history is filled by the receiver's display updates; the window only
// shows it, and is told when rows came.
class ScanHistoryWindow : public QWidget
{
    Q_OBJECT
public:
    ScanHistoryWindow(int receiver, ScanHistory& history, QWidget* parent = nullptr);

    // Window thread, after the history got rows.
    void rowsAdded();
    // Labels follow the main window's F/C buttons.
    void setShowFrequency(bool frequency);

    // Without a dialog. Each file is written beside its target and renamed
    // over it once whole, so a failure (a full disk) leaves what was there;
    // false with the reason.
    bool exportPng(const QString& path, QString& error) const;
    bool exportCsv(const QString& path, QString& error) const;
    bool exportCsv(const QString& path) const
    {
        QString ignored;
        return exportCsv(path, ignored);
    }
    // The CSV of the history as it is now, written on a worker thread (a
    // long history with a table's channels is hundreds of megabytes): the
    // result is empty once the file is in place, else the reason.
    QFuture<QString> exportCsvInBackground(const QString& path) const;
    // What Save PNG... writes: a caption naming the window, the receiver and
    // the time over the holds, waterfall and key; the same in its PNG text.
    QImage picture(const QDateTime& savedAt) const;
    // Where a save dialog starts: the folder the program works in, the one
    // it was started from and makes its logs in.
    QString suggestedPath(const QString& suffix) const;
    void resetHolds();

    WaterfallView* waterfall() const { return m_waterfall; }
    HoldTraceView* traces() const { return m_traces; }
    QLabel* readout() const { return m_readout; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void exportPngClick();
    void exportCsvClick();
    void syncScrollBar();

    int m_receiver;
    ScanHistory& m_history;
    QWidget* m_picture = nullptr;
    HoldTraceView* m_traces = nullptr;
    WaterfallView* m_waterfall = nullptr;
    QScrollBar* m_scroll = nullptr;
    QLabel* m_readout = nullptr;
    QToolButton* m_csvButton = nullptr; // off while a CSV is being written
    bool m_syncing = false;
};
