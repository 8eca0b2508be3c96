#pragma once
// The program's own embedded data, found by a name and a type name ("FRMV", "RC_DATA").

#include <QByteArray>
#include <optional>

// The resource's bytes; nothing when the program carries no such resource or it cannot be read.
std::optional<QByteArray> OpenProgramResource(const char* name, const char* type);
