#include "PortSelection.h"

#include "link/LinkSettings.h"

// "COMn:" with n from 1 to 99 written without a leading zero, else 0. Any
// such name is a serial port (/dev/ttyS<n-1>), never a file in the current
// folder.
int PortSelection::comNumber(const std::string& text)
{
    if (text.size() < 5 || text.size() > 6 || text.compare(0, 3, "COM") != 0 || text.back() != ':')
        return 0;
    int n = 0;
    for (size_t i = 3; i + 1 < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return 0;
        n = n * 10 + (text[i] - '0');
    }
    return text[3] == '0' ? 0 : n;
}

PortSelection PortSelection::fromText(const std::string& text)
{
    PortSelection s;
    if (text == "USB") {
        s.linkKind = LinkSettings::kUsb;
        s.comPort = 0;
        return s;
    }
    s.linkKind = LinkSettings::kSerial;
    if (const int n = comNumber(text); n > 0) {
        s.comPort = int16_t(n);
        return s;
    }
    s.comPort = 0;
    s.devicePath = text;
    return s;
}

void PortSelection::apply(LinkSettings& settings) const
{
    // The path goes in before the kind, so a link thread that reads the kind
    // never sees a half-made choice.
    settings.setDevicePath(devicePath);
    settings.comPort.store(comPort);
    settings.linkKind.store(linkKind);
}
