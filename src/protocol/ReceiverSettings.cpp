#include "ReceiverSettings.h"

#include "link/ByteOrder.h"

#include <cstring>

using ByteOrder::getleu16;
using ByteOrder::getleu32;

void ReceiverSettings::storeBlock(const uint8_t* block)
{
    std::memcpy(m_block.data(), block, kBlockSize);
    stepKHz = stepRaw() / 256.0;
}

uint32_t ReceiverSettings::lowEdge() const { return getleu32(&m_block[0]); }
uint32_t ReceiverSettings::highEdge() const { return getleu32(&m_block[4]); }
uint16_t ReceiverSettings::stepRaw() const { return getleu16(&m_block[8]); }

double ReceiverSettings::toMHz(uint32_t value) const
{
    // Extended precision for the product, as the band limits are shown with
    // up to 15 significant digits.
    return double(static_cast<long double>(value) * stepKHz * 0.001L);
}

double ReceiverSettings::lowEdgeMHz() const { return toMHz(lowEdge()); }
double ReceiverSettings::highEdgeMHz() const { return toMHz(highEdge()); }
double ReceiverSettings::currentMHz() const { return toMHz(current); }

int16_t ReceiverSettings::channelOf(uint32_t value) const
{
    const int16_t p = int16_t(int16_t(value & 0xFFFF) - int16_t(lowEdge() & 0xFFFF) + 1);
    if (!numberingFrom991())
        return p;
    return p <= 34 ? int16_t(p + 990) : int16_t(p - 34);
}

int64_t ReceiverSettings::displayChannelOf(uint32_t value) const
{
    const int64_t p = int64_t(value) - int64_t(lowEdge()) + 1;
    if (!numberingFrom991())
        return p;
    return p <= 34 ? p + 990 : p - 34;
}

int16_t ReceiverSettings::positionOf(int16_t channel) const
{
    if (!numberingFrom991())
        return channel;
    return channel >= 991 ? int16_t(channel - 990) : int16_t(channel + 34);
}

uint32_t ReceiverSettings::valueOfPosition(int16_t position) const
{
    return uint32_t(int32_t(position) + int64_t(lowEdge()) - 1);
}

double ReceiverSettings::frequencyOfChannelMHz(int16_t channel) const
{
    return toMHz(valueOfPosition(positionOf(channel)));
}

double ReceiverSettings::frequencyOfValueMHz(uint32_t value) const
{
    return frequencyOfChannelMHz(channelOf(value));
}
