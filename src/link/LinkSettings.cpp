#include "LinkSettings.h"

void LinkSettings::setDevicePath(const std::string& path)
{
    std::lock_guard lock(m_mutex);
    m_devicePath = path;
}

std::string LinkSettings::devicePath() const
{
    std::lock_guard lock(m_mutex);
    return m_devicePath;
}

void LinkSettings::setStatusText(const std::string& text)
{
    std::lock_guard lock(m_mutex);
    m_statusText = text;
}

std::string LinkSettings::statusText() const
{
    std::lock_guard lock(m_mutex);
    return m_statusText;
}
