#pragma once

#include <array>
#include <cstdint>

// The longest length field L each frame type can plausibly carry. The link
// knows no message layouts: the codec fills the table and hands it down, and
// the framer rejects a frame whose L is longer than its type allows, before
// that frame can swallow the frames behind it. Unfilled, every type allows
// every L the frame format does.
class FrameLengths
{
public:
    static constexpr uint16_t kMaxLength = 2047; // largest L the frame format allows

    FrameLengths() { m_max.fill(kMaxLength); }

    void setMax(uint8_t type, uint16_t maxLength) { m_max[type] = maxLength < kMaxLength ? maxLength : kMaxLength; }
    uint16_t max(uint8_t type) const { return m_max[type]; }
    bool plausible(uint8_t type, int length) const { return length >= 1 && length <= m_max[type]; }

private:
    std::array<uint16_t, 256> m_max;
};
