#include "gps/MapExport.h"
#include "gps/TMapRange_Form.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <gtest/gtest.h>

TEST(TMapRange_Form, StartsWithTheDefaultsAndMirrorsThemOnAttach)
{
    TMapRange_Form form;
    EXPECT_EQ(form.windowTitle(), "Mapping Range Settings");
    EXPECT_EQ(form.size(), QSize(313, 317));
    EXPECT_TRUE(form.UseR1()->isChecked());
    EXPECT_FALSE(form.UseR2()->isChecked());
    EXPECT_EQ(form.edRSSIMax()->text(), "-50");
    EXPECT_EQ(form.edRSSIMin()->text(), "-120");
    auto* ok = form.findChild<QPushButton*>("OKBtn");
    ASSERT_NE(ok, nullptr);
    EXPECT_TRUE(ok->isDefault());
    auto* info = form.findChild<QLabel*>("lblInfo");
    ASSERT_NE(info, nullptr);
    EXPECT_TRUE(info->text().startsWith("These settings re used when the ZKT Pellorn"));

    MapExport map("/tavrix-test-form-unused", nullptr);
    map.setRange(0, 0);
    map.setMapReceiver(1);
    form.attach(&map);
    EXPECT_EQ(map.mapReceiver(), 0);
    EXPECT_EQ(map.rangeMin(), -120);
    EXPECT_EQ(map.rangeMax(), -50);
    map.SetMapRSSI(0, -66);
    EXPECT_EQ(map.MapRSSI(), -66);
    EXPECT_FALSE(map.isMapped());
}

// Changes take effect at once, open or closed, OK pressed or not.
TEST(TMapRange_Form, EditsAndReceiverChoiceReachTheExportLive)
{
    TMapRange_Form form;
    MapExport map("/tavrix-test-form-unused", nullptr);
    form.attach(&map);
    form.MapClick();
    EXPECT_TRUE(form.isVisible());
    EXPECT_FALSE(form.isModal());

    form.edRSSIMax()->setText("-90");
    form.UseR2()->click();
    EXPECT_FALSE(form.UseR1()->isChecked());
    EXPECT_EQ(map.mapReceiver(), 1);
    map.SetMapRSSI(0, -40);
    map.SetMapRSSI(1, -101);
    EXPECT_EQ(map.MapRSSI(), -101);
    EXPECT_EQ(map.rangeMax(), -90);

    form.findChild<QPushButton*>("OKBtn")->click();
    EXPECT_FALSE(form.isVisible());
    form.edRSSIMin()->setText("-95");
    EXPECT_EQ(map.rangeMin(), -95);
    form.MapClick();
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.edRSSIMax()->text(), "-90"); // values survive hiding
    form.close();
    EXPECT_FALSE(form.isVisible());
}

// What the mapping application cannot use is refused in the dialog, and the
// values in force stay until the range is usable again.
TEST(TMapRange_Form, RefusesARangeThatIsNotWholeDbmFromMinus150To0WithMinBelowMax)
{
    TMapRange_Form form;
    MapExport map("/tavrix-test-form-unused", nullptr);
    form.attach(&map);
    form.MapClick();
    auto* message = form.findChild<QLabel*>("lblRangeError");
    ASSERT_NE(message, nullptr);
    EXPECT_FALSE(message->isVisible());
    EXPECT_FALSE(message->accessibleName().isEmpty());

    const struct
    {
        const char* minimum;
        const char* maximum;
    } refused[] = {
        {"abc", "-50"}, {"-120", "99999"}, {"-151", "-50"}, {"-120", "5"}, {"-40", "-60"},
        {"-60", "-60"}, {"", "-50"}, {"-85abc", "-50"}, {"-120", "-50.5"},
    };
    for (const auto& r : refused) {
        form.edRSSIMin()->setText(r.minimum);
        form.edRSSIMax()->setText(r.maximum);
        EXPECT_TRUE(message->isVisible()) << r.minimum << " .. " << r.maximum;
        EXPECT_EQ(message->text(), "Use Whole Numbers -150 To 0, Min Below Max!!!");
        EXPECT_EQ(map.rangeMin(), -120) << r.minimum << " .. " << r.maximum;
        EXPECT_EQ(map.rangeMax(), -50) << r.minimum << " .. " << r.maximum;
        form.findChild<QPushButton*>("OKBtn")->click();
        EXPECT_TRUE(form.isVisible()) << "OK closed the dialog over a refused range";
    }

    form.edRSSIMin()->setText("-150");
    form.edRSSIMax()->setText("0");
    EXPECT_FALSE(message->isVisible());
    EXPECT_EQ(map.rangeMin(), -150);
    EXPECT_EQ(map.rangeMax(), 0);
    form.findChild<QPushButton*>("OKBtn")->click();
    EXPECT_FALSE(form.isVisible());
}
