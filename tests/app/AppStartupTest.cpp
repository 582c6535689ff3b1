// The program's start: the forms created as main creates them, the port
// dialog as the user first sees it. The run against the device emulator and
// the shutdown are in the end-to-end tests.
#include "app/Program.h"
#include "app/TCom_Form.h"
#include "app/TMain_Form.h"
#include "gps/GpsRecord.h"
#include "gps/MapExport.h"
#include "link/LinkSettings.h"
#include "protocol/MeasurementState.h"

#include <QComboBox>

#include <gtest/gtest.h>

TEST(Startup, PortDialogOffersThePortsAndStartsAtCom1)
{
    Program program(measurementState(), gpsRecord(), linkSettings());
    QComboBox* choice = program.comForm().portChoice();
    ASSERT_GE(choice->count(), 5);
    const char* fixed[] = {"COM1:", "COM2:", "COM3:", "COM4:", "USB"};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(choice->itemText(i), QString::fromLatin1(fixed[i]));
    EXPECT_EQ(choice->currentText(), QStringLiteral("COM1:"));
    EXPECT_TRUE(choice->isEditable());
    EXPECT_EQ(program.comForm().windowTitle(), QStringLiteral("Select Communications Port"));
    EXPECT_TRUE(program.comForm().windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(program.comForm().windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_TRUE(program.comForm().isVisible());
    EXPECT_FALSE(program.mainForm().isVisible());
    EXPECT_EQ(linkSettings().linkKind.load(), LinkSettings::kNone);
    // Nothing is exported before a port is chosen and GPS data arrive.
    EXPECT_EQ(measurementState().gpsThread.load(), nullptr);
    EXPECT_FALSE(program.mapExport().isMapped());
}
