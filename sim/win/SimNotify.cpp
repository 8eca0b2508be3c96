#include "sim/SimNotify.h"

#include <windows.h>

#include <dbt.h>

namespace gxsim {

// As the system does when a device comes or goes: WM_DEVICECHANGE with DBT_DEVNODES_CHANGED to
// every top-level window. Posted, not sent, so that a window that does not answer never stalls
// the caller.
bool NotifyDeviceChange()
{
    return PostMessageW(HWND_BROADCAST, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0) != 0;
}

}  // namespace gxsim
