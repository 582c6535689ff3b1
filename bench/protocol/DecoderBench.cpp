// Cost of decoding one packet of each message type on the link thread. The
// device sends a few hundred packets a second at 38400 baud, so anything
// under a few microseconds leaves the link thread idle.
#include "protocol/GpsRecord.h"
#include "protocol/Decoder.h"
#include "protocol/DeviceRecord.h"
#include "protocol/SampleBuffers.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

PacketRecord packet(uint8_t type, int payloadSize, uint8_t fill)
{
    PacketRecord record;
    record.setLength(uint16_t(payloadSize + 2));
    record.bytes[3] = type;
    uint8_t checksum = type;
    for (int i = 0; i < payloadSize; ++i) {
        record.bytes[4 + i] = fill;
        checksum ^= fill;
    }
    record.bytes[4 + payloadSize] = checksum;
    return record;
}

void BM_decodePacket(benchmark::State& run, uint8_t type, int payloadSize, uint8_t fill)
{
    DeviceRecord device;
    SampleBuffers samples;
    GpsRecord gps;
    Decoder decoder(device, samples, gps, [](const PacketRecord&) { return true; });
    std::vector<uint8_t> log;
    decoder.setLoggingHandOff([&](const PacketRecord& p) { log.assign(p.fromLength(), p.fromLength() + p.fromLengthCount()); });
    device.edit([](DeviceRecord::Data& d) { d.receiverActive = {true, true}; });
    device.channelInfoPresent = 1;
    const PacketRecord record = packet(type, payloadSize, fill);
    for (auto _ : run) {
        decoder.decodePacket(record);
        // Keep the display's side of the hand-over open so data are stored each time.
        samples.receiverEvents[0].reset();
        samples.receiverEvents[1].reset();
        benchmark::DoNotOptimize(log.data());
    }
}

} // namespace

BENCHMARK_CAPTURE(BM_decodePacket, GpsMessage, Decoder::GpsMessage, 152, 0x5A);
BENCHMARK_CAPTURE(BM_decodePacket, ReceiverSetup, Decoder::ReceiverSetup, 25, 0x03);
BENCHMARK_CAPTURE(BM_decodePacket, SingleBlock10, Decoder::SingleBlockR1, 10, 0xB0);
BENCHMARK_CAPTURE(BM_decodePacket, SingleBlock2045, Decoder::SingleBlockR1, 2045, 0xB0);
BENCHMARK_CAPTURE(BM_decodePacket, ClockMarker, Decoder::ClockMarker, 7, 0x01);
BENCHMARK_CAPTURE(BM_decodePacket, CurrentFrequency, Decoder::CurrentFrequency, 8, 0x01);
BENCHMARK_CAPTURE(BM_decodePacket, ScanChannelList, Decoder::ScanChannelList, 80, 0x01);
BENCHMARK_CAPTURE(BM_decodePacket, ScanReport, Decoder::ScanReport, 15, 0x01);
BENCHMARK_CAPTURE(BM_decodePacket, TableReport, Decoder::TableReport, 16, 0x01);
BENCHMARK_CAPTURE(BM_decodePacket, SerialNumber, Decoder::SerialNumber, 8, 0x41);

BENCHMARK_MAIN();
