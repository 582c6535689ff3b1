#pragma once

#include <QFont>

class QWidget;

// Fonts and placement shared by the forms. The forms were drawn for
// "MS Sans Serif", "Arial" and "Courier New"; here they map to the metric-
// compatible Liberation families, and font heights are pixel sizes.
class AppStyle
{
public:
    static void installFontSubstitutions();
    // "MS Sans Serif", 11 pixels: the forms' base font.
    static QFont formFont();
    static void centreOnScreen(QWidget* window);
};
