#include "TGPS.h"
TGPS::TGPS() {}
void TGPS::Decode(const uint8_t*) {}
