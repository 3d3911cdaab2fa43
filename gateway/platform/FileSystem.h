#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

// The few file operations a file that rolls over by itself needs: when it was last written, a
// move aside that never replaces, the names in its folder, a removal. Reasons are the system's,
// empty when it worked. Implemented once for POSIX systems and once for Windows.
namespace gateway {

// When the file at path was last written; none when it is not there or holds nothing.
std::optional<std::chrono::system_clock::time_point> lastWriteOfContent(const std::string& path);

// Moves from to to, in the same folder, and fails when to is there already.
std::string moveAside(const std::string& from, const std::string& to);

// The names of the files in folder ("" for the working folder), without the folder.
std::vector<std::string> fileNamesIn(const std::string& folder, std::string& reason);

std::string removeFile(const std::string& path);

} // namespace gateway
