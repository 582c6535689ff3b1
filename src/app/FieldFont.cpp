#include "FieldFont.h"

#include "platform/TextFit.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QLineEdit>
#include <QStyle>

int FieldFont::availableWidth(const QLineEdit* edit)
{
    // The frame and the edit's own two-pixel text margins on each side.
    const int frame = edit->hasFrame() ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, edit) : 0;
    const QMargins m = edit->textMargins();
    return edit->contentsRect().width() - 2 * frame - 4 - m.left() - m.right();
}

void FieldFont::fit(QLineEdit* edit, const QFont& design)
{
    const int designPixels = QFontInfo(design).pixelSize();
    const QString text = edit->text();
    const int size = TextFit::pixelSize(designPixels, kMinPixels, availableWidth(edit), [&](int px) {
        QFont f = design;
        f.setPixelSize(px);
        return QFontMetrics(f).horizontalAdvance(text);
    });
    QFont font = design;
    if (size != designPixels)
        font.setPixelSize(size);
    if (edit->font() != font)
        edit->setFont(font);
}

void FieldFont::follow(QLineEdit* edit)
{
    const QFont design = edit->font();
    fit(edit, design);
    QObject::connect(edit, &QLineEdit::textChanged, edit, [edit, design] { fit(edit, design); });
}
