// The program's start: the forms created as main creates them, the port
// dialog as the user first sees it. The run against the device emulator and
// the shutdown are in the end-to-end tests.
#include "app/FieldFont.h"
#include "app/Program.h"
#include "app/TCom_Form.h"
#include "app/TMain_Form.h"
#include "protocol/GpsRecord.h"
#include "gps/MapExport.h"
#include "link/LinkSettings.h"
#include "protocol/DeviceRecord.h"
#include "protocol/SampleBuffers.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLineEdit>

#include <gtest/gtest.h>

TEST(Startup, PortDialogOffersThePortsAndStartsAtCom1)
{
    DeviceRecord device;
    SampleBuffers samples;
    GpsRecord gps;
    LinkSettings link;
    Program program(device, samples, gps, link);
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
    EXPECT_EQ(link.linkKind.load(), LinkSettings::kNone);
    // Nothing is exported before a port is chosen and GPS data arrive.
    EXPECT_EQ(program.gpsThread(), nullptr);
    EXPECT_FALSE(program.mapExport().isMapped());

    // A long device path: the end, where devices differ, stays in view.
    QLineEdit* edit = choice->lineEdit();
    ASSERT_NE(edit, nullptr);
    const QString path = QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A9K2LQ3B-if00-port0");
    choice->addItem(path);
    EXPECT_GE(choice->view()->minimumWidth(), choice->view()->fontMetrics().horizontalAdvance(path))
        << "the list cuts the path's tail";
    choice->setEditText(path);
    EXPECT_EQ(edit->cursorPosition(), path.size());
    EXPECT_GE(QFontInfo(edit->font()).pixelSize(), FieldFont::kMinPixels);
    // A short choice keeps the designed font.
    const QFont before = edit->font();
    choice->setEditText(QStringLiteral("COM1:"));
    EXPECT_LE(QFontMetrics(edit->font()).horizontalAdvance(QStringLiteral("COM1:")), FieldFont::availableWidth(edit));
    EXPECT_GE(QFontInfo(edit->font()).pixelSize(), QFontInfo(before).pixelSize());
}
