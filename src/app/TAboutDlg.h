#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class TAboutDlg;
}

// The about box: non-modal, shown from the Help menu, hidden again by OK.
class TAboutDlg : public QDialog
{
    Q_OBJECT
public:
    explicit TAboutDlg(QWidget* parent = nullptr);
    ~TAboutDlg() override;

    void OKBtnClick();

private:
    std::unique_ptr<Ui::TAboutDlg> ui;
};
