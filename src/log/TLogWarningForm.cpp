#include "TLogWarningForm.h"

#include "protocol/DeviceRecord.h"
#include "ui_TLogWarningForm.h"

#include <QTimer>

TLogWarningForm::TLogWarningForm(DeviceRecord& device, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , ui(std::make_unique<Ui::TLogWarningForm>())
    , m_device(device)
{
    ui->setupUi(this);
    connect(ui->Button1, &QPushButton::clicked, this, &TLogWarningForm::Button1Click);
}

TLogWarningForm::~TLogWarningForm() = default;

// The dialog is shown once per logging run and then sits hidden for hours;
// its window and screen buffer (close to 1 MB) are given back until the next
// showing rebuilds them.
void TLogWarningForm::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    QTimer::singleShot(0, this, [this] {
        if (!isVisible())
            destroy();
    });
}

// The position and size are those of the outer frame; the window manager's
// decorations are known only once the window is up, so the client area is
// sized again then.
void TLogWarningForm::placeFrame()
{
    const QRect frame = frameGeometry();
    const QRect client = geometry();
    const int extraWidth = frame.width() - client.width();
    const int extraHeight = frame.height() - client.height();
    resize(kOuterGeometry.width() - extraWidth, kOuterGeometry.height() - extraHeight);
    move(kOuterGeometry.topLeft());
}

void TLogWarningForm::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    placeFrame();
    QTimer::singleShot(0, this, [this] {
        if (isVisible())
            placeFrame();
    });
}

void TLogWarningForm::Button1Click()
{
    // A new log's header carries only channel information received after
    // this OK, never an earlier measurement's.
    m_device.forgetChannelInfo();
    if (onConfirmed)
        onConfirmed();
    close();
}
