#include "StatusMessages.h"

void StatusMessages::post(const QString& text, Kind kind, int64_t nowMs, int64_t forMs)
{
    (kind == Kind::Error ? m_error : m_notice) = {text, nowMs + forMs};
}

QString StatusMessages::current(int64_t nowMs) const
{
    if (nowMs < m_error.until)
        return m_error.text;
    if (nowMs < m_notice.until)
        return m_notice.text;
    return {};
}

std::optional<int64_t> StatusMessages::nextChange(int64_t nowMs) const
{
    if (nowMs < m_error.until)
        return m_error.until;
    if (nowMs < m_notice.until)
        return m_notice.until;
    return std::nullopt;
}
