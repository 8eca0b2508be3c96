#pragma once
// Helper processes for the Windows tests: the test program starts itself again with
// "--child NAME", and the child runs the helper registered under NAME and exits with its result.

#include <functional>
#include <string>

inline constexpr const char* kChildSwitch = "--child";

// Registers a helper at static initialisation; returns a value to keep in a variable.
bool RegisterChild(const std::string& name, std::function<int()> helper);

// The registered helper's exit code; 255 for a name nobody registered.
int RunChild(const std::string& name);

// Starts this program as the child NAME, waits up to timeoutMs for it and returns its exit
// code; -1 when it could not be started or did not end in time.
int RunChildProcess(const std::string& name, unsigned timeoutMs = 30000);
