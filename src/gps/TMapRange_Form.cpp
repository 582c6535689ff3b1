#include "TMapRange_Form.h"

#include "ui_TMapRange_Form.h"

#include "gps/MapBlock.h"
#include "gps/MapExport.h"

#include <QGuiApplication>
#include <QScreen>

TMapRange_Form::TMapRange_Form(QWidget* parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::TMapRange_Form>())
{
    ui->setupUi(this);
    setFixedSize(size());
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint
                   | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
    connect(ui->OKBtn, &QPushButton::clicked, this, &TMapRange_Form::OKBtnClick);
    connect(ui->UseR1, &QRadioButton::toggled, this, &TMapRange_Form::mirror);
    connect(ui->edRSSIMax, &QLineEdit::textChanged, this, &TMapRange_Form::mirror);
    connect(ui->edRSSIMin, &QLineEdit::textChanged, this, &TMapRange_Form::mirror);
}

TMapRange_Form::~TMapRange_Form() = default;

void TMapRange_Form::attach(MapExport* map)
{
    m_map = map;
    mirror();
}

QRadioButton* TMapRange_Form::UseR1() const { return ui->UseR1; }
QRadioButton* TMapRange_Form::UseR2() const { return ui->UseR2; }
QLineEdit* TMapRange_Form::edRSSIMax() const { return ui->edRSSIMax; }
QLineEdit* TMapRange_Form::edRSSIMin() const { return ui->edRSSIMin; }

void TMapRange_Form::MapClick()
{
    if (!m_placed) {
        if (QScreen* screen = QGuiApplication::primaryScreen())
            move(screen->availableGeometry().center() - rect().center());
        m_placed = true;
    }
    show();
    raise();
    activateWindow();
}

void TMapRange_Form::OKBtnClick()
{
    hide();
}

void TMapRange_Form::mirror()
{
    if (!m_map)
        return;
    m_map->setMapReceiver(ui->UseR2->isChecked() ? 1 : 0);
    m_map->setRange(MapBlock::rangeValue(ui->edRSSIMin->text().toStdString()),
                    MapBlock::rangeValue(ui->edRSSIMax->text().toStdString()));
}
