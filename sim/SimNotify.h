#pragma once
// Tells a running loader that the set of attached devices changed, as the operating system does:
// the line "537 7" on the loader's local socket. A loader that is not running is ignored.

namespace gxsim {

// The loader's socket: $XDG_RUNTIME_DIR/GXUSBFirmwareLoaderBaseMutex.sock, or, without that
// variable, the same name in the folder Qt falls back to (<temp>/runtime-<user>).
bool NotifyDeviceChange();

}  // namespace gxsim
