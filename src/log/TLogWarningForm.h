#pragma once

#include <QRect>
#include <QWidget>

#include <functional>
#include <memory>

class DeviceRecord;
namespace Ui {
class TLogWarningForm;
}

// Shown when logging starts: tells the user how to get the device to send its
// channel information into the log. OK forgets the channel information seen so
// far, so the device has to send it again during this run; closing by the
// title bar leaves the bookkeeping alone.
class TLogWarningForm : public QWidget
{
    Q_OBJECT
public:
    explicit TLogWarningForm(DeviceRecord& device, QWidget* parent = nullptr);
    ~TLogWarningForm() override;

    void Button1Click();
    // Runs on OK after the channel information is forgotten (the log
    // control's count of measurements logged without it starts again).
    std::function<void()> onConfirmed;

    // Where the dialog opens: its frame, title bar included.
    static constexpr QRect kOuterGeometry{281, 133, 522, 440};

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void placeFrame();

    std::unique_ptr<Ui::TLogWarningForm> ui;
    DeviceRecord& m_device;
};
