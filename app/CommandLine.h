#pragma once
// The loader's command line: an existing *.eraw file, "externfirmware" and "dontcheckcpbl".

#include <QString>
#include <QStringList>

struct CommandLineOptions {
    bool ExternalFirmwareAllowed = false;
    bool SkipCompatibilityCheck = false;
    QString FirmwareFile;  // the last existing *.eraw named, empty when none
};

enum class PathRule {
    // Windows: paths are tested lower-cased and without a leading '/' or '-', like the switches.
    CaseInsensitive,
    // Case-sensitive file systems: a path is tested exactly as written, since lower-casing it or
    // cutting the '/' of an absolute path would break every real path.
    AsWritten,
};

// args excludes the program path. Flags are only ever set, so their order does not matter.
CommandLineOptions ParseCommandLine(const QStringList& args, PathRule rule);
