#include "TAboutDlg.h"

#include "AppStyle.h"
#include "ui_TAboutDlg.h"

TAboutDlg::TAboutDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
    , ui(std::make_unique<Ui::TAboutDlg>())
{
    ui->setupUi(this);
    setFont(AppStyle::formFont());
    setFixedSize(369, 170);
    AppStyle::centreOnScreen(this);
    connect(ui->OKBtn, &QPushButton::clicked, this, &TAboutDlg::OKBtnClick);
}

TAboutDlg::~TAboutDlg() = default;

void TAboutDlg::OKBtnClick()
{
    close();
}
