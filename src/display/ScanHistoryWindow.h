#pragma once

#include <QWidget>

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

    // Without a dialog; false when the file could not be written.
    bool exportPng(const QString& path) const;
    bool exportCsv(const QString& path) const;
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
    bool m_syncing = false;
};
