#include "CommandFramer.h"

#include "SimBytes.h"

std::vector<CommandFramer::Frame> CommandFramer::push(const uint8_t* data, std::size_t n)
{
    std::vector<Frame> out;
    for (std::size_t i = 0; i < n; ++i) {
        const uint8_t b = data[i];
        switch (m_state) {
        case State::Hunting:
            if (b == 0xAA)
                m_state = State::HaveSync;
            break;
        case State::HaveSync:
            m_length = b;
            m_state = State::HaveLengthLow;
            break;
        case State::HaveLengthLow:
            m_length = uint16_t(m_length | (b << 8));
            if (m_length == 0 || m_length > 2047) {
                ++m_rejected;
                m_state = State::Hunting;
            } else {
                m_body.clear();
                m_state = State::InBody;
            }
            break;
        case State::InBody:
            m_body.push_back(b);
            if (m_body.size() == m_length) {
                uint8_t x = 0;
                for (uint8_t c : m_body)
                    x ^= c;
                if (x == 0) {
                    Frame f;
                    f.type = m_body[0];
                    f.bytes = {0xAA};
                    SimBytes::appendLe16(f.bytes, m_length);
                    f.bytes.insert(f.bytes.end(), m_body.begin(), m_body.end());
                    out.push_back(std::move(f));
                } else {
                    ++m_rejected;
                }
                m_state = State::Hunting;
            }
            break;
        }
    }
    return out;
}
