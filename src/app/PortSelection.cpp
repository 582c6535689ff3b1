#include "PortSelection.h"

#include "link/LinkSettings.h"

PortSelection PortSelection::fromText(const std::string& text)
{
    PortSelection s;
    if (text == "USB") {
        s.linkKind = LinkSettings::kUsb;
        s.comPort = 0;
        return s;
    }
    s.linkKind = LinkSettings::kSerial;
    if (text.size() == 5 && text.compare(0, 3, "COM") == 0 && text[3] >= '1' && text[3] <= '4'
        && text[4] == ':') {
        s.comPort = int16_t(text[3] - '0');
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
