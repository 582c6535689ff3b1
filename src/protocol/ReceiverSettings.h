#pragma once

#include <array>
#include <cstdint>

// One receiver's band, as the device reports it. The first 12 bytes are the
// settings block exactly as received (little-endian), because the log header
// copies them verbatim.
class ReceiverSettings
{
public:
    static constexpr int kBlockSize = 12;

    // Copies the 12-byte block and recomputes stepKHz.
    void storeBlock(const uint8_t* block);
    const std::array<uint8_t, kBlockSize>& block() const { return m_block; }

    uint32_t lowEdge() const;  // channel steps
    uint32_t highEdge() const; // channel steps
    uint16_t stepRaw() const;  // 1/256 kHz
    uint8_t flags() const { return m_block[10]; }
    uint8_t spare() const { return m_block[11]; }
    bool numberingFrom991() const { return (flags() & 0x01) != 0; }

    std::array<uint32_t, 10> scanChannels{}; // channel steps
    bool scanChannelsKnown = false;          // a scan channel list has arrived
    uint32_t current = 0;                    // channel steps
    double stepKHz = 0.0;                    // kHz

    double lowEdgeMHz() const;
    double highEdgeMHz() const;
    double currentMHz() const;

    // Channel numbering works on the low 16 bits, signed, as the device does.
    int16_t channelOf(uint32_t value) const;
    int16_t currentChannel() const { return channelOf(current); }
    int16_t positionOf(int16_t channel) const;   // 1-based band position
    uint32_t valueOfPosition(int16_t position) const;
    double frequencyOfChannelMHz(int16_t channel) const;
    double frequencyOfValueMHz(uint32_t value) const;

    // What the screen shows for a value: the channel number by the same rule,
    // worked in full width, and value x step. The 16-bit forms above wrap for
    // a band low edge or value beyond 32767 and send values beyond position
    // 1024 of a 991-numbered band back to its first 34 positions.
    int64_t displayChannelOf(uint32_t value) const;
    double valueMHz(uint32_t value) const { return toMHz(value); }

private:
    double toMHz(uint32_t value) const;
    std::array<uint8_t, kBlockSize> m_block{};
};
