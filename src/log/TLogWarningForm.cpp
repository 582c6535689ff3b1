#include "TLogWarningForm.h"

#include "protocol/MeasurementState.h"
#include "ui_TLogWarningForm.h"

TLogWarningForm::TLogWarningForm(MeasurementState& state, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , ui(std::make_unique<Ui::TLogWarningForm>())
    , m_state(state)
{
    ui->setupUi(this);
    connect(ui->Button1, &QPushButton::clicked, this, &TLogWarningForm::Button1Click);
}

TLogWarningForm::~TLogWarningForm() = default;

void TLogWarningForm::Button1Click()
{
    m_state.channelInfoPresent.store(0);
    m_state.unloggedScanCount.store(0);
    close();
}
