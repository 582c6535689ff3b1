#pragma once

#include <cstdint>

// The command the link thread sends each time the port opens: it asks for the
// serial number, whose reply starts the device's conversation. The link sends
// it on its own, so this one code lives here; the codec's command list takes
// it from here.
constexpr uint8_t kOpeningRequest = 28;
