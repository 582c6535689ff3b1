#include "GpsScreen.h"

#include "ui_GpsScreen.h"

#include <QFont>
#include <QLabel>

GpsScreen::GpsScreen(QWidget* parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::GpsScreen>())
{
    substituteFonts();
    ui->setupUi(this);
    setAttribute(Qt::WA_StyledBackground); // the gray panel background of the style sheet
    setFixedSize(size());
    widenLabelsToBoxes();
}

// Liberation Sans Bold runs a little wider than the face the layout was drawn
// for, and the texts change with every message. A centred label gets the whole
// inside of its group box, so a longer text is not clipped while it stays
// centred. The channel table is fixed-pitch and already fits.
void GpsScreen::widenLabelsToBoxes()
{
    constexpr int kFrame = 2;
    for (QLabel* label : findChildren<QLabel*>()) {
        QWidget* box = label->parentWidget();
        if (box && box != this && (label->alignment() & Qt::AlignHCenter))
            label->setGeometry(kFrame, label->y(), box->width() - 2 * kFrame, label->height());
    }
}

GpsScreen::~GpsScreen() = default;

void GpsScreen::substituteFonts()
{
    QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"));
    QFont::insertSubstitution(QStringLiteral("Courier New"), QStringLiteral("Liberation Mono"));
}
