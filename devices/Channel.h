#pragma once
// The device channel: the one way the loader talks to a device, through the driver library that
// found it (DriverKind 0: FTDI, any other value: the vendor library). It keeps no state of its
// own (the open handle lives in the record) and no lock: one thread at a time uses a device.
// Failures show only in the results; nothing is logged here.

#include "devices/Structs.h"

#include <cstdint>
#include <functional>

inline constexpr uint32_t kFtdiReadTimeoutMs = 1000;
inline constexpr uint32_t kFtdiWriteTimeoutMs = 200;
inline constexpr uint32_t kVendorFirstTimeout = 500;
inline constexpr uint32_t kVendorSecondTimeout = 200;
inline constexpr uint32_t kChannelPieceSize = 64;  // largest piece one write is given
// An FTDI chip holds a reply shorter than a USB packet back for its latency timer (16 ms by
// default) before it sends it on: with a 14-byte reply to every part, that would add some five
// seconds to a write. Set right after an open, where the library can.
inline constexpr uint8_t kFtdiLatencyTimerMs = 2;

// True when the device is open and its handle is stored in the record. The device is opened by
// the serial text its library listed.
bool ChannelOpen(TDevEntry& device);
// Whether the device's channel is open (its handle of its own kind is set).
bool ChannelIsOpen(const TDevEntry& device);
// Closes the device if it is open and clears the handle; closing a closed channel is harmless.
void ChannelClose(TDevEntry& device);
// One driver write; true when the driver reports success. written is set only when the driver
// was called.
bool ChannelWrite(TDevEntry& device, const void* data, uint32_t size, uint32_t& written);
// The whole buffer in pieces of at most 64 bytes, 1 ms apart (none after the last); true only
// when every piece went out whole. Stops at the first piece that does not.
bool ChannelSend(TDevEntry& device, const void* data, uint32_t size);
// One read of at most capacity bytes; the count placed in buffer, 0 when nothing came. The FTDI
// path zero-fills the buffer, polls the receive queue every 1 ms up to timeoutMs and takes what
// is queued 1 ms after the first byte. The vendor path calls the library once, ignores timeoutMs
// and leaves the buffer as it is beyond what was read.
// stop, when given, is asked at every FTDI poll: true ends the read at once with nothing read, so
// a closing window does not sit out a long time-out. The vendor library's one call cannot be cut.
using ChannelStop = std::function<bool()>;
uint32_t ChannelRead(TDevEntry& device, void* buffer, uint32_t capacity, uint32_t timeoutMs,
                     const ChannelStop& stop = {});
// Throws away what the device has sent and nobody has read yet, without waiting for more: bytes
// queued before a request answer no request of the caller's. Returns how many went. Only the FTDI
// path can tell what is queued without waiting; the vendor path discards nothing (a vendor read
// would sit out the library's own wait).
uint32_t ChannelDiscardQueued(TDevEntry& device);

// Closes the device's channel when the scope ends, however it ends (an error raised included):
// a record must not be listed, or freed, with its channel open. Closing a channel that never
// opened does nothing.
class ChannelCloser {
public:
    explicit ChannelCloser(TDevEntry& device) : device_(device) {}
    ~ChannelCloser() { ChannelClose(device_); }
    ChannelCloser(const ChannelCloser&) = delete;
    ChannelCloser& operator=(const ChannelCloser&) = delete;

private:
    TDevEntry& device_;
};
