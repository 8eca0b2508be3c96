#pragma once
// A scanf-like reader for formats made of %d and literal characters, as the C library reads them:
// %d skips leading whitespace and takes an optional sign and at least one digit; a blank in the
// format matches any run of whitespace, none included; any other character must stand as written.
// Returns how many numbers were stored before the first mismatch. Values beyond 32 bits saturate.

#include <string_view>

int ScanInts(std::string_view text, std::string_view format, int* out, int capacity);
