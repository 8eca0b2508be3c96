#pragma once
// The program's own embedded data in the system's own terms, without Qt: what
// OpenProgramResource (platform/ProgramResource.h) copies out on Windows.

#include <optional>
#include <string>
#include <string_view>

// The bytes of the program's resource of that name under the resource type of that name (a type
// given by name, such as "RC_DATA", not a predefined numeric one). They belong to the loaded
// program and live as long as it does. Nothing when the program carries no such resource or it
// cannot be loaded.
std::optional<std::string_view> ProgramResourceBytes(const std::wstring& name,
                                                     const std::wstring& type);
