#pragma once
// The file operations the state folder is made of, one implementation per system (sim/linux,
// sim/win). Paths are the folder's own, "/"-separated, in the system's narrow encoding.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace gxsim {

// The whole file; false when it cannot be read, with missing set when it does not exist.
bool ReadWholeFile(const std::string& path, std::string& text, bool& missing);
// Writes text to a new file beside path and renames it over path: a reader sees the old text or
// the new one, never a part. A failed write leaves no file of its own behind.
bool ReplaceWholeFile(const std::string& path, const std::string& text);
// Appends text in one write, so that the lines of concurrent writers never mix.
void AppendToFile(const std::string& path, const std::string& text);
// Cuts an existing file to nothing; a missing one stays missing.
void EmptyFile(const std::string& path);
void RemoveFile(const std::string& path);
// Creates the file when missing and brings it to size bytes: new bytes are fill, extra ones cut.
bool SizeFile(const std::string& path, uint32_t size, uint8_t fill);
// Reads size bytes at offset, lets change alter them and writes them back. False when the range
// does not lie inside the file or a read or write fails.
bool ChangeFileRange(const std::string& path, uint32_t offset, uint32_t size,
                     const std::function<void(std::vector<uint8_t>&)>& change);

}  // namespace gxsim
