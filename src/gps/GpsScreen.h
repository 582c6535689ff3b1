#pragma once

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

private:
    void widenLabelsToBoxes();

    std::unique_ptr<Ui::GpsScreen> ui;
};
