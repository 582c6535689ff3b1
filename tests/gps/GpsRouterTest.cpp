#include "protocol/GpsRecord.h"
#include "gps/GpsScreen.h"
#include "gps/GpsScreenView.h"
#include "gps/GpsScreenText.h"
#include "gps/GpsTestMessage.h"
#include "gps/MapExport.h"
#include "gps/MapTestSupport.h"
#include "gps/TGPS_Router.h"
#include "link/PacketFramer.h"
#include "protocol/Decoder.h"
#include "platform/SharedMemory.h"
#include "protocol/DeviceRecord.h"
#include "protocol/SampleBuffers.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QFontInfo>
#include <QFontMetrics>
#include <QStyle>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <cstring>
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

// Lets the window thread serve the worker's Synchronize until done() holds.
template <typename Done>
bool serveUntil(Done done, int ms = 5000)
{
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired())
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

void stop(TGPS_Router& router)
{
    router.Terminate();
    serveUntil([&] { return router.wait(1); });
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

TEST(TGPS_Router, UpdateScreenWritesEveryControl)
{
    DeviceRecord device;
    GpsRecord gps;
    Window window;
    GpsScreenView view(&window.root);
    TGPS_Router router(gps, device, &view, nullptr, true);
    int shown = 0;
    router.screenShown = [&] { ++shown; };

    router.UpdateScreen(record(GpsTestMessage::reference()));

    EXPECT_TRUE(window.gbGPS->isVisible());
    EXPECT_TRUE(window.gbGPS->isEnabled());
    EXPECT_EQ(shown, 1); // the GPS-loss alarm rearms
    for (const auto& [name, text] : GpsTestMessage::referenceTexts())
        EXPECT_EQ(window.text(name.c_str()).toStdString(), text) << name;
    EXPECT_EQ(window.text("edGPSStatus"), ""); // a colour field only
    EXPECT_EQ(window.statusPalette().color(QPalette::Base), QColor(255, 255, 0));
    EXPECT_EQ(window.statusPalette().color(QPalette::Text), QColor(0, 0, 0));
}

TEST(TGPS_Router, StatusFieldColoursFollowTheFix)
{
    DeviceRecord device;
    GpsRecord gps;
    Window window;
    GpsScreenView view(&window.root);
    TGPS_Router router(gps, device, &view, nullptr, true);
    const struct { uint8_t status; QColor base, text; } cases[] = {
        {0xE0, QColor(0, 128, 0), Qt::white},   // 3D
        {0xC0, QColor(255, 255, 0), Qt::black}, // 2D
        {0xA0, QColor(255, 0, 0), Qt::white},   // propagate
        {0x00, QColor(255, 0, 0), Qt::white},
    };
    for (const auto& c : cases) {
        router.UpdateScreen(record(GpsTestMessage{}.u8(129, c.status)));
        EXPECT_EQ(window.statusPalette().color(QPalette::Base), c.base) << int(c.status);
        EXPECT_EQ(window.statusPalette().color(QPalette::Text), c.text) << int(c.status);
    }
}

// The thread: one message wakes it, it refreshes the screen, exports the
// map point from the same record, and only then resets the event.
TEST(TGPS_Router, MessageRefreshesScreenThenExportsMapPoint)
{
    DeviceRecord device;
    device.edit([](DeviceRecord::Data& d) { std::strcpy(d.serialNumber, "TVX00042"); });
    GpsRecord gps;
    Window window;
    const std::string name = uniqueBlockName("router");
    MapExport map(name, nullptr);
    map.SetMapRSSI(0, -77);
    GpsScreenView view(&window.root);
    TGPS_Router router(gps, device, &view, &map);

    gps.Decode(GpsTestMessage::reference().bytes.data());
    gps.gpsEvent.set();
    ASSERT_TRUE(serveUntil([&] { return window.text("lblDateTime") == "03/09/2004   13:05:07"; }));
    EXPECT_FALSE(gps.gpsEvent.isSet());
    // The export follows the refresh on the GPS thread; joining it orders
    // both before the checks.
    stop(router);
    EXPECT_TRUE(map.isMapped());

    SharedMemory reader(name, 4096);
    ASSERT_TRUE(reader.open());
    double latitude;
    std::memcpy(&latitude, reader.data() + 16, 8);
    EXPECT_NEAR(latitude, -40.5471, 1e-4);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(reader.data() + 297)), "TVX00042");
    EXPECT_EQ(int16_t(reader.data()[34] | reader.data()[35] << 8), -77);

    stop(router);
    SharedMemory::unlink(name);
}

TEST(TGPS_Router, TerminationWinsOverAPendingMessage)
{
    DeviceRecord device;
    GpsRecord gps;
    Window window;
    const std::string name = uniqueBlockName("router-stop");
    MapExport map(name, nullptr);
    GpsScreenView view(&window.root);
    TGPS_Router router(gps, device, &view, &map);

    router.Terminate();
    gps.Decode(GpsTestMessage::reference().bytes.data());
    gps.gpsEvent.set();
    ASSERT_TRUE(serveUntil([&] { return router.isFinished(); }));
    EXPECT_EQ(window.text("lblDateTime"), "MM/DD/YYYY     HH:MM:SS");
    EXPECT_FALSE(window.gbGPS->isVisible());
    EXPECT_FALSE(map.isMapped());
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

// A message decoded while the screen shows the one before it still reaches
// the screen: the thread resets its event before it takes the record.
TEST(TGPS_Router, AMessageDecodedDuringARefreshIsShownToo)
{
    DeviceRecord device;
    SampleBuffers samples;
    GpsRecord gps;
    Decoder decoder(device, samples, gps, nullptr);
    Window window;
    GpsScreenView view(&window.root);
    TGPS_Router router(gps, device, &view, nullptr);

    const GpsTestMessage first = GpsTestMessage::reference();
    GpsTestMessage second = GpsTestMessage::reference();
    second.u8(10, 8); // 13:05:08
    const auto packetOf = [](const GpsTestMessage& m) {
        return buildFrame(Decoder::GpsMessage, m.bytes.data(), int(m.bytes.size()));
    };
    int refreshes = 0;
    QString shown;
    // The refresh of the first message decodes the second, as the link
    // thread would while the window thread is busy drawing.
    auto* time = window.root.findChild<QLineEdit*>(QStringLiteral("edGPSTime"));
    ASSERT_NE(time, nullptr);
    QObject::connect(time, &QLineEdit::textChanged, [&](const QString& text) {
        if (++refreshes == 1) {
            shown = text;
            decoder.decodePacket(packetOf(second));
        }
    });
    decoder.decodePacket(packetOf(first));
    ASSERT_TRUE(serveUntil([&] { return refreshes >= 2; })) << "the second message was never shown";
    EXPECT_EQ(shown, QStringLiteral("13:05:07"));
    EXPECT_EQ(window.text("edGPSTime"), QStringLiteral("13:05:08"));
    stop(router);
    EXPECT_EQ(refreshes, 2);
}
