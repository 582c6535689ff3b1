#pragma once

#include <QFont>

class QLineEdit;

// Keeps an edit's text whole: the font shrinks (never below minPixels) only
// as far as the text shown needs, and grows back to the design font when a
// shorter text follows.
class FieldFont
{
public:
    static constexpr int kMinPixels = 8;

    // Fits now and again at every change of the edit's text.
    static void follow(QLineEdit* edit);
    static void fit(QLineEdit* edit, const QFont& design);
    static int availableWidth(const QLineEdit* edit);
};
