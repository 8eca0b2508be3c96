#pragma once
// How this system's file system wants command-line arguments tested as paths.

enum class PathRule {
    // Windows: paths are tested lower-cased and without a leading '/' or '-', like the switches.
    CaseInsensitive,
    // Case-sensitive file systems: a path is tested exactly as written, since lower-casing it or
    // cutting the '/' of an absolute path would break every real path.
    AsWritten,
};
