#pragma once

#include <QFont>
#include <QStringList>
#include <QWidget>

#include <memory>

namespace Ui {
class GpsScreen;
}

// The GPS panel's content: twelve group boxes of labels and the channel
// table. The main window places it into its GPSPanel frame; TGPS_Router
// finds the labels by object name and writes them.
class GpsScreen : public QWidget
{
    Q_OBJECT
public:
    explicit GpsScreen(QWidget* parent = nullptr);
    ~GpsScreen() override;

    // The form's fonts are those of the original screens; map them onto
    // the Liberation fonts that metric-match them.
    static void substituteFonts();

    // Shrinks the font of every GPS field under root (labels of this screen,
    // the main window's GPS Data edits) only as far as the widest text the
    // field can show needs, measured with the font's metrics.
    static void fitFieldFonts(QWidget* root);
    // The channel table: all thirteen lines share one font so that the
    // columns stay aligned, as large as the longest line shown allows.
    // While the screen is hidden this waits until it is shown.
    void fitChannelTable();

    static constexpr int kMinFieldPixels = 7;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void widenLabelsToBoxes();

    std::unique_ptr<Ui::GpsScreen> ui;
    QFont m_tableFont; // the channel table's font as designed
    // What the channel table was last fitted to: its width and its lines.
    int m_fittedWidth = -1;
    QStringList m_fittedLines;
};
