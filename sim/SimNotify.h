#pragma once
// Tells a running loader that the set of attached devices changed, as the operating system does:
// on Linux the line "537 7" on the loader's local socket, on Windows the WM_DEVICECHANGE message
// (537) with DBT_DEVNODES_CHANGED (7) posted to every top-level window (sim/linux, sim/win). A
// loader that is not running is ignored.

namespace gxsim {

// Linux: the loader's socket is $XDG_RUNTIME_DIR/GXUSBFirmwareLoaderBaseMutex.sock, or, without
// that variable, the same name in the folder Qt falls back to (<temp>/runtime-<user>).
bool NotifyDeviceChange();

}  // namespace gxsim
