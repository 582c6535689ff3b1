#include "GpsScreen.h"

#include "ui_GpsScreen.h"

#include <QFont>

GpsScreen::GpsScreen(QWidget* parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::GpsScreen>())
{
    substituteFonts();
    ui->setupUi(this);
    setAttribute(Qt::WA_StyledBackground); // the gray panel background of the style sheet
    setFixedSize(size());
}

GpsScreen::~GpsScreen() = default;

void GpsScreen::substituteFonts()
{
    QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"));
    QFont::insertSubstitution(QStringLiteral("Courier New"), QStringLiteral("Liberation Mono"));
}
