#include "gps/GpsScreen.h"
#include "gps/GpsScreenView.h"
#include "gps/GpsScreenText.h"
#include "gps/GpsTestMessage.h"
#include "protocol/TGPS.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QFontInfo>
#include <QFontMetrics>
#include <QStyle>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <map>

namespace {

// The parts of the main window the GPS thread writes: gbGPS with its nine
// edits, and the GPS screen.
struct Window
{
    QWidget root;
    QGroupBox* gbGPS = new QGroupBox(QStringLiteral("GPS Data"), &root);
    GpsScreen* screen = new GpsScreen(&root);

    Window()
    {
        gbGPS->setObjectName(QStringLiteral("gbGPS"));
        auto* layout = new QVBoxLayout(gbGPS);
        for (const char* name : {"edGPSDate", "edGPSTime", "edGPSLatitude", "edGPSLongitude",
                                 "edGPSAltitude", "edGPSSpeed", "edGPSHeading", "edGPSSats",
                                 "edGPSStatus"}) {
            auto* edit = new QLineEdit(gbGPS);
            edit->setObjectName(QLatin1String(name));
            edit->setReadOnly(true);
            layout->addWidget(edit);
        }
        gbGPS->hide();
        gbGPS->setEnabled(false);
        root.show();
    }

    QString text(const char* name) const
    {
        if (auto* label = root.findChild<QLabel*>(QLatin1String(name)))
            return label->text();
        if (auto* edit = root.findChild<QLineEdit*>(QLatin1String(name)))
            return edit->text();
        ADD_FAILURE() << "no control " << name;
        return {};
    }
    QPalette statusPalette() const { return root.findChild<QLineEdit*>("edGPSStatus")->palette(); }
};

TGPS record(const GpsTestMessage& m)
{
    TGPS gps;
    gps.Decode(m.bytes.data());
    return gps;
}

} // namespace

TEST(GpsScreen, ShowsTheDesignTextsBeforeTheFirstMessage)
{
    GpsScreen screen;
    EXPECT_EQ(screen.size(), QSize(682, 452));
    const std::map<QString, QString> texts = {
        {"lblDateTime", "MM/DD/YYYY     HH:MM:SS"}, {"lblSatData", "0 Visible, 0 Tracked"},
        {"lblUTCMode", "Mode = ENABLED"}, {"lblUTCOffset", "Offset = NOT DECODED"},
        {"lblUTCValue", "Offset Value = 0"}, {"lblGMT", "- 12:34"}, {"lblID", "ABCDEF"},
        {"lblGeometry", "0.0 DOP"}, {"lblFilLat", "Latitude = 40.5471 N"},
        {"lblLon", "Longitude = 74.3803 W"}, {"lblMSLHeight", "MSL Height = 0 cm"},
        {"lblRecStat7", "........................................"},
        {"lblClockBias", "Bias = 0 ns"}, {"lblOscOffset", "Osc. Offset = 0 Hz"},
        {"lblTemperature", "Temp. = 0.0 C"}, {"lbl3DSpeed", "3D = 0 cm/s"},
        {"lbl2DSpeed", "2D = 0 cm/s"}, {"lblHeading", "Heading = N"}, {"lblChannelHdr", "Header"},
    };
    for (const auto& [name, text] : texts) {
        auto* label = screen.findChild<QLabel*>(name);
        ASSERT_NE(label, nullptr) << name.toStdString();
        EXPECT_EQ(label->text(), text) << name.toStdString();
    }
    auto* channel12 = screen.findChild<QLabel*>("lblChannel12");
    ASSERT_NE(channel12, nullptr);
    EXPECT_EQ(channel12->geometry(), QRect(8, 18 + 16 * 12, 630, 13));
    EXPECT_TRUE(channel12->font().underline());
    EXPECT_EQ(channel12->font().family(), "Courier New");
    auto* gbID = screen.findChild<QGroupBox*>("gbID");
    ASSERT_NE(gbID, nullptr);
    EXPECT_EQ(gbID->geometry(), QRect(116, 170, 100, 37));
    EXPECT_EQ(gbID->title(), "ID Tag");
}

TEST(GpsScreenView, showGpsWritesEveryControl)
{
    Window window;
    GpsScreenView view(&window.root);

    view.showGps(record(GpsTestMessage::reference()));

    EXPECT_TRUE(window.gbGPS->isVisible());
    EXPECT_TRUE(window.gbGPS->isEnabled());
    for (const auto& [name, text] : GpsTestMessage::referenceTexts())
        EXPECT_EQ(window.text(name.c_str()).toStdString(), text) << name;
    EXPECT_EQ(window.text("edGPSStatus"), ""); // a colour field only
    EXPECT_EQ(window.statusPalette().color(QPalette::Base), QColor(255, 255, 0));
    EXPECT_EQ(window.statusPalette().color(QPalette::Text), QColor(0, 0, 0));
}

TEST(GpsScreenView, StatusFieldColoursFollowTheFix)
{
    Window window;
    GpsScreenView view(&window.root);
    const struct { uint8_t status; QColor base, text; } cases[] = {
        {0xE0, QColor(0, 128, 0), Qt::white},   // 3D
        {0xC0, QColor(255, 255, 0), Qt::black}, // 2D
        {0xA0, QColor(255, 0, 0), Qt::white},   // propagate
        {0x00, QColor(255, 0, 0), Qt::white},
    };
    for (const auto& c : cases) {
        view.showGps(record(GpsTestMessage{}.u8(129, c.status)));
        EXPECT_EQ(window.statusPalette().color(QPalette::Base), c.base) << int(c.status);
        EXPECT_EQ(window.statusPalette().color(QPalette::Text), c.text) << int(c.status);
    }
}

namespace {
int available(const QWidget* w)
{
    if (qobject_cast<const QLineEdit*>(w))
        return w->contentsRect().width() - 2 * w->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, w) - 4;
    return w->contentsRect().width();
}
} // namespace

// The substituted fonts run wider than the originals: every field keeps its
// place and size, and its font is just small enough for the widest text it
// can show, such as "Osc. Offset = -1448897167 Hz".
TEST(GpsScreen, everyFieldShowsItsWidestTextWhole)
{
    Window w;
    GpsScreen::fitFieldFonts(&w.root);
    std::map<std::string, std::vector<QString>> texts;
    for (const auto& rows : GpsScreenText::extremeRows())
        for (const auto& row : rows)
            texts[row.target].push_back(QString::fromLatin1(row.text.c_str()));
    texts["lblOscOffset"].push_back(QStringLiteral("Osc. Offset = -1448897167 Hz"));
    int shrunk = 0, kept = 0;
    for (const auto& [name, candidates] : texts) {
        if (name.rfind("lblChannel", 0) == 0)
            continue;
        QWidget* field = w.root.findChild<QWidget*>(QString::fromStdString(name));
        ASSERT_NE(field, nullptr) << name;
        const QFontMetrics fm(field->font());
        for (const QString& t : candidates)
            EXPECT_LE(fm.horizontalAdvance(t), available(field)) << name << ": " << t.toStdString();
        // Only as small as needed: one pixel larger would not do, or it is as designed.
        QFont larger = field->font();
        larger.setPixelSize(QFontInfo(field->font()).pixelSize() + 1);
        int widest = 0;
        for (const QString& t : candidates)
            widest = std::max(widest, QFontMetrics(larger).horizontalAdvance(t));
        if (field->font().resolveMask() & QFont::SizeResolved && QFontInfo(field->font()).pixelSize() < 11) {
            EXPECT_GT(widest, available(field)) << name << " shrunk more than needed";
            ++shrunk;
        } else {
            ++kept;
        }
    }
    EXPECT_GT(shrunk, 0);
    EXPECT_GT(kept, 0);
}

TEST(GpsScreen, channelTableSharesOneFontThatFitsTheLongestLine)
{
    Window w;
    auto* table = w.root.findChild<QLabel*>(QStringLiteral("lblChannel3"));
    auto* header = w.root.findChild<QLabel*>(QStringLiteral("lblChannelHdr"));
    ASSERT_TRUE(table && header);
    const QFont design = header->font();
    // All four status flags of the first byte: "(Parity Error)" was cut.
    const std::array<uint8_t, 6> block{1, 2, 3, 4, 0x0F, 0xF3};
    table->setText(QString::fromStdString(GpsScreenText::channelLine(3, block)));
    w.screen->fitChannelTable();
    EXPECT_LE(QFontMetrics(table->font()).horizontalAdvance(table->text()), table->contentsRect().width());
    EXPECT_EQ(header->font(), table->font()) << "columns must stay aligned";
    EXPECT_LT(QFontInfo(table->font()).pixelSize(), QFontInfo(design).pixelSize());

    table->setText(QString::fromStdString(GpsScreenText::channelLine(3, {1, 2, 3, 4, 0, 0})));
    w.screen->fitChannelTable();
    EXPECT_EQ(QFontInfo(table->font()).pixelSize(), QFontInfo(design).pixelSize());
    EXPECT_EQ(header->font(), table->font());

    // Hidden, the table waits, and is fitted as it is shown again.
    w.screen->hide();
    table->setText(QString::fromStdString(GpsScreenText::channelLine(3, block)));
    w.screen->fitChannelTable();
    EXPECT_EQ(QFontInfo(table->font()).pixelSize(), QFontInfo(design).pixelSize());
    w.screen->show();
    EXPECT_LT(QFontInfo(table->font()).pixelSize(), QFontInfo(design).pixelSize());
    EXPECT_EQ(header->font(), table->font());
}

