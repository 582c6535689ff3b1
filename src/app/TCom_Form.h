#pragma once

#include <QDialog>

#include <memory>

class LinkStarter;
class QComboBox;

namespace Ui {
class TCom_Form;
}

// The port dialog shown at start: the only place the link is chosen. OK
// records the choice, starts the link and shows the main window; the dialog
// is not shown again.
class TCom_Form : public QDialog
{
    Q_OBJECT
public:
    TCom_Form(LinkStarter& starter, QWidget* mainWindow, QWidget* parent = nullptr);
    ~TCom_Form() override;

    QComboBox* portChoice() const;

    void FormCreate();
    void OKBtnClick();

    // Serial devices present on this machine, by path.
    static QStringList serialDevices();

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void fitListWidth();

    std::unique_ptr<Ui::TCom_Form> ui;
    LinkStarter& m_starter;
    QWidget* m_mainWindow;
    bool m_confirmed = false;
};
