#include "app/ClockText.h"
#include "app/PanelTiling.h"
#include "app/PortSelection.h"
#include "app/StartFolder.h"
#include "app/StatusTexts.h"
#include "link/LinkSettings.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <set>
#include <unistd.h>

using Rect = PanelTiling::Rect;

namespace {

struct TilingCase
{
    const char* legend;
    Rect status;
    int16_t infoLeft;
    bool r1, r2, vertical;
    Rect want1, want2;
};

const Rect kOld1{1, 2, 3, 4};
const Rect kOld2{5, 6, 7, 8};

} // namespace

TEST(PanelTiling, PlacesPanelsAsDesigned)
{
    const TilingCase cases[] = {
        {"side by side", {0, 33, 105, 452}, 787, true, true, false, {105, 33, 343, 453}, {446, 33, 343, 453}},
        {"one above the other", {0, 33, 105, 452}, 787, true, true, true, {105, 33, 684, 227}, {105, 259, 684, 227}},
        {"R1 alone", {0, 33, 105, 452}, 787, true, false, false, {105, 33, 684, 453}, kOld2},
        {"R1 alone ignores tiling", {0, 33, 105, 452}, 787, true, false, true, {105, 33, 684, 453}, kOld2},
        {"R2 alone takes the whole area", {0, 33, 105, 452}, 787, false, true, false, kOld1, {105, 33, 684, 453}},
        {"none keeps both bounds", {0, 33, 105, 452}, 787, false, false, false, kOld1, kOld2},
        {"odd height halves truncate", {0, 33, 105, 451}, 787, true, true, true, {105, 33, 684, 226}, {105, 258, 684, 226}},
        {"odd width halves truncate", {0, 33, 105, 452}, 786, true, true, false, {105, 33, 342, 453}, {445, 33, 342, 453}},
    };
    for (const TilingCase& c : cases) {
        PanelTiling::Input in{};
        in.statusColumn = c.status;
        in.infoLeft = c.infoLeft;
        in.visible[0] = c.r1;
        in.visible[1] = c.r2;
        in.current[0] = kOld1;
        in.current[1] = kOld2;
        in.tileVertical = c.vertical;
        Rect out[2];
        PanelTiling::layout(in, out);
        EXPECT_EQ(out[0], c.want1) << c.legend;
        EXPECT_EQ(out[1], c.want2) << c.legend;
    }
}

TEST(StatusTexts, BandLimitsAreShortestWithUpTo15Digits)
{
    EXPECT_EQ(StatusTexts::limitText(32000.0L * 12.5L * 0.001L, '.'), "400");
    EXPECT_EQ(StatusTexts::limitText(6.25L, '.'), "6.25");
    EXPECT_EQ(StatusTexts::limitText(12960100.0L * 12.5L * 0.001L, ','), "162001,25");
    EXPECT_EQ(StatusTexts::limitText(0.0L, '.'), "0");
    EXPECT_EQ(StatusTexts::limitText(1234.567890123456789L, '.'), "1234.56789012346");
    // 0.001 is not exact in binary; the 15-digit rounding hides that.
    EXPECT_EQ(StatusTexts::limitText(12345.0L * 0.1L, '.'), "1234.5");
}

TEST(StatusTexts, MarkerIsModulo100AndOtherFields)
{
    const std::pair<int, const char*> markers[] = {
        {0, "Mrkr #0"}, {7, "Mrkr #7"}, {99, "Mrkr #99"}, {100, "Mrkr #0"}, {123, "Mrkr #23"}, {255, "Mrkr #55"},
    };
    for (const auto& [marker, text] : markers)
        EXPECT_EQ(StatusTexts::markerText(marker), text) << marker;
    EXPECT_EQ(StatusTexts::serialText(""), "SN: ");
    EXPECT_EQ(StatusTexts::serialText("AB123456"), "SN: AB123456");
    EXPECT_EQ(StatusTexts::fileSizeText(0), "0 kB");
    EXPECT_EQ(StatusTexts::fileSizeText(57), "57 kB");
    EXPECT_EQ(StatusTexts::fileSizeText(2097151), "2097151 kB");
}

TEST(PortSelection, MapsTheChoiceToTheLink)
{
    struct Case
    {
        const char* text;
        PortSelection want;
    };
    const Case cases[] = {
        {"COM1:", {1, 1, ""}},
        {"COM2:", {1, 2, ""}},
        {"COM3:", {1, 3, ""}},
        {"COM4:", {1, 4, ""}},
        {"USB", {2, 0, ""}},
        {"/dev/pts/7", {1, 0, "/dev/pts/7"}},
        {"/dev/serial/by-id/usb-FTDI_x-if00-port0", {1, 0, "/dev/serial/by-id/usb-FTDI_x-if00-port0"}},
        {"COM5:", {1, 5, ""}},
        {"COM10:", {1, 10, ""}},
        {"COM99:", {1, 99, ""}},
        {"COM100:", {1, 0, "COM100:"}},
        {"COM0:", {1, 0, "COM0:"}},
        {"COM05:", {1, 0, "COM05:"}},
        {"COM5", {1, 0, "COM5"}},
        {"COMX:", {1, 0, "COMX:"}},
        {"usb", {1, 0, "usb"}},
        {"", {1, 0, ""}}, // no choice: port 0, which opens nothing
    };
    for (const Case& c : cases)
        EXPECT_EQ(PortSelection::fromText(c.text), c.want) << c.text;
}

TEST(PortSelection, ApplyReplacesAnEarlierPath)
{
    LinkSettings settings;
    PortSelection::fromText("/dev/pts/3").apply(settings);
    EXPECT_EQ(settings.linkKind.load(), LinkSettings::kSerial);
    EXPECT_EQ(settings.comPort.load(), 0);
    EXPECT_EQ(settings.devicePath(), "/dev/pts/3");

    PortSelection::fromText("USB").apply(settings);
    EXPECT_EQ(settings.linkKind.load(), LinkSettings::kUsb);
    EXPECT_EQ(settings.comPort.load(), 0);
    EXPECT_EQ(settings.devicePath(), "");
}

TEST(ClockText, LongTimeFormatWithoutTimeZone)
{
    const QTime t(15, 4, 5);
    EXPECT_EQ(ClockText::text(QLocale(QLocale::English, QLocale::UnitedStates), t), QStringLiteral("3:04:05 PM"));
    EXPECT_EQ(ClockText::text(QLocale(QLocale::German, QLocale::Germany), t), QStringLiteral("15:04:05"));
    EXPECT_FALSE(ClockText::format(QLocale(QLocale::English, QLocale::UnitedKingdom)).contains(u't'));
}

// Where a bare log name lands: never a folder the user may not write to.
TEST(StartFolder, KeepsAChosenFolderAndLeavesOnesTheUserCannotWrite)
{
    const QString home = QStringLiteral("/home/u");
    const QString docs = QStringLiteral("/usr/share/doc/tavrix-dl");
    const QString work = QStringLiteral("/home/u/drives");
    const QString remembered = QStringLiteral("/media/u/usb/logs");
    const struct
    {
        const char* legend;
        QString current;
        QString remembered;
        std::set<QString> writable;
        QString want;
    } cases[] = {
        {"a terminal's folder is kept", work, remembered, {work, remembered, home}, work},
        {"the desktop's home gives way to the remembered folder", home, remembered, {remembered, home}, remembered},
        {"home without a remembered folder", home, QString(), {home}, home},
        {"a remembered folder gone read-only", home, remembered, {home}, home},
        {"the documentation folder gives way to the remembered folder", docs, remembered, {remembered, home}, remembered},
        {"the documentation folder gives way to home", docs, QString(), {home}, home},
        {"nowhere writable: the start folder, which errors will name", docs, remembered, {}, docs},
    };
    for (const auto& c : cases) {
        const auto writable = [&](const QString& path) { return c.writable.count(path) > 0; };
        EXPECT_EQ(StartFolder::choose(c.current, c.remembered, home, writable), c.want) << c.legend;
    }
}

TEST(StartFolder, WritableMeansAFolderThisUserMayWriteTo)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    EXPECT_TRUE(StartFolder::isWritableFolder(dir.path()));
    EXPECT_FALSE(StartFolder::isWritableFolder(dir.filePath(QStringLiteral("missing"))));
    EXPECT_FALSE(StartFolder::isWritableFolder(QString()));
    EXPECT_FALSE(StartFolder::isWritableFolder(QStringLiteral("/proc/self/status")));
    if (::geteuid() != 0) {
        EXPECT_FALSE(StartFolder::isWritableFolder(QStringLiteral("/usr/share/doc")));
    }
}
