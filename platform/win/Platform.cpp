#include "platform/Platform.h"

#include <windows.h>

PathRule CommandLinePathRule() { return PathRule::CaseInsensitive; }

// Windows has a named mutex and window messages; no folder is needed for either.
QString RuntimeDirectory() { return QString(); }
