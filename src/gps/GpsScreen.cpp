#include "GpsScreen.h"

#include "gps/GpsScreenText.h"
#include "platform/TextFit.h"
#include "ui_GpsScreen.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QLineEdit>
#include <QStyle>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include <QFont>
#include <QLabel>
#include <QShowEvent>

GpsScreen::GpsScreen(QWidget* parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::GpsScreen>())
{
    substituteFonts();
    ui->setupUi(this);
    setAttribute(Qt::WA_StyledBackground); // the gray panel background of the style sheet
    setFixedSize(size());
    widenLabelsToBoxes();
    fitFieldFonts(this);
    m_tableFont = ui->lblChannelHdr->font();
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

namespace {

bool isChannelTable(const std::string& name)
{
    return name.rfind("lblChannel", 0) == 0;
}

int designPixels(const QFont& font)
{
    return QFontInfo(font).pixelSize();
}

int availableWidth(const QWidget* w)
{
    if (qobject_cast<const QLineEdit*>(w)) {
        // The frame and the edit's own two-pixel text margins.
        const int frame = w->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, w);
        return w->contentsRect().width() - 2 * frame - 4;
    }
    return w->contentsRect().width();
}

void fitFont(QWidget* w, const std::vector<QString>& texts)
{
    QFont font = w->font();
    const int design = designPixels(font);
    const int size = TextFit::pixelSize(design, GpsScreen::kMinFieldPixels, availableWidth(w), [&](int px) {
        QFont f = font;
        f.setPixelSize(px);
        const QFontMetrics fm(f);
        int widest = 0;
        for (const QString& t : texts)
            widest = std::max(widest, fm.horizontalAdvance(t));
        return widest;
    });
    if (size != design) {
        font.setPixelSize(size);
        w->setFont(font);
    }
}

} // namespace

void GpsScreen::fitFieldFonts(QWidget* root)
{
    std::map<std::string, std::vector<QString>> texts;
    for (const auto& rows : GpsScreenText::extremeRows())
        for (const GpsScreenText::Row& row : rows)
            texts[row.target].push_back(QString::fromLatin1(row.text.data(), qsizetype(row.text.size())));
    for (const auto& [name, candidates] : texts) {
        if (isChannelTable(name))
            continue;
        QWidget* w = root->findChild<QWidget*>(QString::fromStdString(name));
        if (w && (qobject_cast<QLabel*>(w) || qobject_cast<QLineEdit*>(w)))
            fitFont(w, candidates);
    }
}

void GpsScreen::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    fitChannelTable();
}

void GpsScreen::fitChannelTable()
{
    // Behind the receiver screen nobody reads the table; measuring it for
    // every message cost more than the rest of the GPS update.
    if (!isVisible())
        return;
    const QList<QLabel*> lines = {ui->lblChannelHdr, ui->lblChannel1, ui->lblChannel2, ui->lblChannel3,
                                  ui->lblChannel4, ui->lblChannel5, ui->lblChannel6, ui->lblChannel7,
                                  ui->lblChannel8, ui->lblChannel9, ui->lblChannel10, ui->lblChannel11,
                                  ui->lblChannel12};
    // Fitting measures every line at several sizes: done only when the
    // lines or the room for them changed, not on every GPS message.
    QStringList texts;
    for (const QLabel* l : lines)
        texts.append(l->text());
    const int width = ui->lblChannel1->contentsRect().width();
    if (width == m_fittedWidth && texts == m_fittedLines)
        return;
    m_fittedWidth = width;
    m_fittedLines = texts;
    const int design = designPixels(m_tableFont);
    const int size = TextFit::pixelSize(design, kMinFieldPixels, width, [&](int px) {
        QFont f = m_tableFont;
        f.setPixelSize(px);
        const QFontMetrics fm(f);
        int widest = 0;
        for (const QLabel* l : lines)
            widest = std::max(widest, fm.horizontalAdvance(l->text()));
        return widest;
    });
    QFont font = m_tableFont;
    if (size != design)
        font.setPixelSize(size);
    if (lines.front()->font() == font)
        return;
    for (QLabel* l : lines)
        l->setFont(font);
}

void GpsScreen::substituteFonts()
{
    QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"));
    QFont::insertSubstitution(QStringLiteral("Courier New"), QStringLiteral("Liberation Mono"));
}
