#pragma once
// The loader's command line: an existing *.eraw file, "externfirmware" and "dontcheckcpbl".

#include "platform/PathRule.h"

#include <QString>
#include <QStringList>

struct CommandLineOptions {
    bool ExternalFirmwareAllowed = false;
    bool SkipCompatibilityCheck = false;
    QString FirmwareFile;  // the last existing *.eraw named, empty when none
};

// args excludes the program path. Flags are only ever set, so their order does not matter.
CommandLineOptions ParseCommandLine(const QStringList& args, PathRule rule);
