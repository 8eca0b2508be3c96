#pragma once
// How the stand-in driver libraries export an entry point by its plain name: in the DLL's export
// table on Windows, with default visibility in a library built with hidden visibility elsewhere.

#if defined(_WIN32)
#define GXSIM_EXPORT extern "C" __declspec(dllexport)
#else
#define GXSIM_EXPORT extern "C" __attribute__((visibility("default")))
#endif
