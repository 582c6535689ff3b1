#include "display/ReceiverGraphView.h"

#include "display/DBar.h"
#include "display/ReceiverView.h"
#include "display/TR_Router.h"
#include "protocol/GpsRecord.h"
#include "link/PacketFramer.h"
#include "protocol/Decoder.h"
#include "protocol/DeviceRecord.h"
#include "protocol/SampleBuffers.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QToolButton>
#include <QWidget>

#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

const QRgb kMaroon = qRgb(0x80, 0x00, 0x00);

int maroonPixels(const QImage& img)
{
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            n += img.pixel(x, y) == kMaroon;
    return n;
}

// Band 150 .. 175 MHz in 25 kHz steps.
void storeBand(DeviceRecord& device, int r)
{
    const uint8_t block[12] = {0x70, 0x17, 0, 0, 0x58, 0x1B, 0, 0, 0x00, 0x19, 0, 0};
    device.edit([&](DeviceRecord::Data& d) { d.receiverSettings[r].storeBlock(block); });
}

class ReceiverDisplay : public ::testing::Test
{
protected:
    void SetUp() override
    {
        panel.resize(684, 453);
        for (QToolButton* b : {&single, &table, &scan, &frequency})
            b->setCheckable(true);
        controls = {&single, &table, &frequency};
        graph = new DBar(&panel);
        configureReceiverGraph(*graph);
        PlaceGraph(graph, 0, 0, panel.width(), panel.height());
        TR_Router::Hooks hooks;
        hooks.mapValue = [this](int r, int16_t v) {
            ASSERT_EQ(r, 0);
            mapValues.push_back(v);
            // The hook is the last step: the bars are already on the canvas.
            maroonAtHook = maroonPixels(graph->canvas());
        };
        router = std::make_unique<TR_Router>(0, device, samples, std::make_unique<ReceiverGraphView>(graph, controls),
                                             std::move(hooks), true);
        storeBand(device, 0);
    }

    DeviceRecord device;
    SampleBuffers samples;
    QWidget panel;
    QToolButton single, table, scan, frequency;
    ReceiverDisplayControls controls;
    DBar* graph = nullptr;
    std::unique_ptr<TR_Router> router;
    std::vector<int16_t> mapValues;
    int maroonAtHook = -1;
};

} // namespace

TEST_F(ReceiverDisplay, titleOnlyAfterASettingsChange)
{
    router->UpdateDisplay();
    EXPECT_EQ(graph->titleText(), QString());
    router->retitle(); // the panels were laid out
    router->UpdateDisplay();
    EXPECT_EQ(graph->titleText(), QStringLiteral("R1 (150.00000-175.00000)MHz 25.00 KHz Step"));

    const uint8_t other[12] = {0x10, 0x27, 0, 0, 0x20, 0x4E, 0, 0, 0x80, 0x0C, 0, 0};
    device.edit([&](DeviceRecord::Data& d) { d.receiverSettings[0].storeBlock(other); });
    router->UpdateDisplay();
    graph->Paint();
    EXPECT_EQ(graph->titleText(), QStringLiteral("R1 (150.00000-175.00000)MHz 25.00 KHz Step"));
    device.settingsStored({false, true}); // a reply for the other receiver
    router->UpdateDisplay();
    EXPECT_EQ(graph->titleText(), QStringLiteral("R1 (150.00000-175.00000)MHz 25.00 KHz Step"));
    device.settingsStored({true, false});
    router->UpdateDisplay();
    EXPECT_EQ(graph->titleText(), QStringLiteral("R1 (125.00000-250.00000)MHz 12.50 KHz Step"));
}

TEST_F(ReceiverDisplay, singleMode)
{
    single.setChecked(true);
    frequency.setChecked(true);
    samples.singleAverage[0] = -75;
    device.edit([](DeviceRecord::Data& d) { d.receiverSettings[0].current = 6010; });
    router->UpdateDisplay();
    EXPECT_EQ(graph->xMax(), 2.0);
    EXPECT_FALSE(graph->verticalLabels);
    EXPECT_EQ(graph->bottomCaption(), QStringLiteral("150.25000 MHz"));
    EXPECT_EQ(mapValues, std::vector<int16_t>{-75});
    EXPECT_GT(maroonAtHook, 142 * 100);
}

TEST_F(ReceiverDisplay, emptyTableShowsNoBarsAndFeedsTheFloor)
{
    table.setChecked(true);
    router->UpdateDisplay();
    EXPECT_EQ(graph->xMax(), 11.0);
    EXPECT_TRUE(graph->verticalLabels);
    EXPECT_EQ(graph->bottomCaption(), QStringLiteral("Channel"));
    EXPECT_EQ(maroonAtHook, 0);
    EXPECT_EQ(mapValues, std::vector<int16_t>{-120});
}

TEST_F(ReceiverDisplay, scanModeFeedsTheStrongestAndSeedsSingleMode)
{
    scan.setChecked(true);
    samples.scanRssi[0][0] = -88;
    samples.scanRssi[0][4] = -52;
    router->UpdateDisplay();
    EXPECT_EQ(mapValues, std::vector<int16_t>{-52});
    EXPECT_EQ(samples.singleAverage[0], -88);
    EXPECT_EQ(samples.singleAverage[1], -120);
    EXPECT_GT(maroonAtHook, 0);

    // Switching to single mode shows the seeded value.
    single.setChecked(true);
    router->UpdateDisplay();
    EXPECT_EQ(mapValues.back(), -88);
}

TEST(ReceiverDisplayThread, eventRunsOneUpdateAndIsReset)
{
    DeviceRecord device;
    SampleBuffers samples;
    QWidget panel;
    panel.resize(684, 453);
    QToolButton single, table, frequency;
    for (QToolButton* b : {&single, &table, &frequency})
        b->setCheckable(true);
    table.setChecked(true);

    int updates = 0;
    TR_Router::Hooks hooks;
    hooks.mapValue = [&](int r, int16_t v) {
        EXPECT_EQ(r, 1);
        EXPECT_EQ(v, -47);
        // Reset as the update took the data: anything stored from now on
        // wakes the next update.
        EXPECT_FALSE(samples.receiverEvents[1].isSet());
        ++updates;
    };
    DBar* graph = nullptr;
    TR_Router* router =
        createReceiverDisplay(1, &panel, {&single, &table, &frequency}, device, samples, &graph, std::move(hooks));
    ASSERT_NE(router, nullptr);
    ASSERT_NE(graph, nullptr);
    EXPECT_TRUE(router->isRunning());
    EXPECT_EQ(graph->parentWidget(), &panel);
    EXPECT_EQ(graph->size(), QSize(684, 453));
    EXPECT_EQ(graph->yTop(), -30.0);
    EXPECT_EQ(graph->yBottom(), -120.0);
    EXPECT_EQ(graph->valueCaption(), QStringLiteral("RSSI (dBm)"));
    EXPECT_FALSE(graph->zoomEnabled);

    samples.tableRssi[1][99] = -47;
    samples.receiverEvents[1].set();

    QElapsedTimer timer;
    timer.start();
    while ((updates == 0 || samples.receiverEvents[1].isSet()) && timer.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(updates, 1);
    EXPECT_FALSE(samples.receiverEvents[1].isSet());
    EXPECT_GT(maroonPixels(graph->canvas()), 0);

    router->Terminate();
    ASSERT_TRUE(router->wait(3000));
    EXPECT_EQ(updates, 1);
    delete router;
}

// A table sweep sent as fast as the link can deliver it, through the real
// decoder on a link-thread stand-in while the display thread redraws: every
// channel is stored, and the one strong channel reaches the map value.
TEST(ReceiverDisplayThread, tableReportsArrivingDuringRedrawsAreAllStored)
{
    DeviceRecord device;
    SampleBuffers samples;
    GpsRecord gps;
    Decoder decoder(device, samples, gps, nullptr);
    device.edit([](DeviceRecord::Data& d) { d.receiverActive[0] = true; });
    QWidget panel;
    panel.resize(684, 453);
    QToolButton single, table, frequency;
    for (QToolButton* b : {&single, &table, &frequency})
        b->setCheckable(true);
    table.setChecked(true);
    std::atomic<int16_t> mapValue{0};
    std::atomic<int> updates{0};
    TR_Router::Hooks hooks;
    hooks.mapValue = [&](int, int16_t v) {
        mapValue = v;
        ++updates;
    };
    TR_Router* router =
        createReceiverDisplay(0, &panel, {&single, &table, &frequency}, device, samples, nullptr, std::move(hooks));
    ASSERT_NE(router, nullptr);

    constexpr int kStrongChannel = 2000; // index 1999
    std::atomic<bool> sent{false};
    std::thread link([&] {
        for (int index = 0; index < SampleBuffers::kTableSize; index += 4) {
            uint8_t payload[16];
            for (int e = 0; e < 4; ++e) {
                const int i = index + e;
                const int8_t dbm = i == kStrongChannel - 1 ? -40 : int8_t(-110 + i % 50);
                const uint8_t entry[4] = {0, uint8_t(i & 0xFF), uint8_t(i >> 8), uint8_t(dbm)};
                std::memcpy(payload + 4 * e, entry, 4);
            }
            decoder.decodePacket(buildFrame(Decoder::TableReport, payload, sizeof payload));
        }
        sent = true;
    });
    QElapsedTimer timer;
    timer.start();
    while (!(sent && mapValue == -40) && timer.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    link.join();
    EXPECT_EQ(mapValue, -40) << "after " << updates << " updates";

    int stored = 0;
    {
        std::lock_guard guard(samples.sampleLocks[0]);
        for (int8_t v : samples.tableRssi[0])
            stored += v != 0;
    }
    EXPECT_EQ(stored, SampleBuffers::kTableSize);

    router->Terminate();
    while (!router->wait(1))
        QCoreApplication::processEvents();
    delete router;
}
