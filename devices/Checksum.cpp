#include "devices/Checksum.h"

#include "devices/LittleEndian.h"

uint16_t PacketChecksum(const uint8_t* data, uint16_t length)
{
    // At most 32,768 words of at most 0xFFFF each: the 32-bit sum cannot overflow before the fold.
    uint32_t sum = 0;
    uint32_t i = 0;
    for (; i + 1 < length; i += 2) sum += ReadLe16(data + i);
    if (i < length) sum += data[i];
    while (sum > 0xFFFF) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(sum);
}
