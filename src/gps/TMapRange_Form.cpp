#include "TMapRange_Form.h"

#include "ui_TMapRange_Form.h"

#include "gps/MapBlock.h"
#include "gps/MapExport.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>

TMapRange_Form::TMapRange_Form(QWidget* parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::TMapRange_Form>())
{
    ui->setupUi(this);
    // Between the range edits and OK; shown only while the range is refused.
    m_rangeError = new QLabel(QString::fromLatin1(kRangeError), this);
    m_rangeError->setObjectName(QStringLiteral("lblRangeError"));
    m_rangeError->setAccessibleName(QStringLiteral("Range error"));
    m_rangeError->setGeometry(4, 264, 305, 18);
    m_rangeError->setAlignment(Qt::AlignCenter);
    m_rangeError->setStyleSheet(QStringLiteral("color: #b00000;"));
    m_rangeError->hide();
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

// A refused range keeps the dialog open, its message in view.
void TMapRange_Form::OKBtnClick()
{
    if (!m_rangeError->isVisible())
        hide();
}

// A range the mapping application cannot use ("abc" read as 0, "99999"
// wrapped to 16 bits, the minimum above the maximum) is never published:
// the values in force stay until both edits hold a usable range again.
void TMapRange_Form::mirror()
{
    const auto minimum = MapBlock::rangeSetting(ui->edRSSIMin->text().toStdString());
    const auto maximum = MapBlock::rangeSetting(ui->edRSSIMax->text().toStdString());
    const bool usable = minimum && maximum && *minimum < *maximum;
    m_rangeError->setVisible(!usable);
    if (!m_map)
        return;
    m_map->setMapReceiver(ui->UseR2->isChecked() ? 1 : 0);
    if (usable)
        m_map->setRange(*minimum, *maximum);
}
