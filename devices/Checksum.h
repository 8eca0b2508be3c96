#pragma once
// The 16-bit checksum of the bootloader packets, also stored in the firmware image header:
// little-endian 16-bit words summed with end-around carry, a last odd byte added as a value
// 0..255, no final inversion. The one implementation for both users.

#include <cstdint>

uint16_t PacketChecksum(const uint8_t* data, uint16_t length);
