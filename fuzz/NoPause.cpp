// The fuzz binaries' pause: none. The device protocol pauses 1 ms per piece it sends and per poll
// of the FTDI receive queue; against a stand-in device that answers at once those pauses would
// only cut the inputs tried per second a hundredfold. The normal build, the replay test included,
// keeps the real pause (platform/linux/Pause.cpp).

#include "platform/Ticks.h"

void PauseMs(uint32_t) {}
