#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace app {

// One "name = value" line of a settings file.
struct Setting
{
    std::string name;
    std::string value;
    int line = 0;
};

// The settings of a file's text: "name = value" lines, blanks around both trimmed, a line whose
// first other character is "#" a comment, blank lines skipped; a name may repeat. Throws
// UsageError "FILE:LINE: what is wrong" for a line that is none of these (no "=", no name, a
// name of other than lower-case letters, digits and "-", a value holding a control character).
// A CR before the line end (a file written on Windows) is no part of the value.
std::vector<Setting> parseSettings(std::string_view text, const std::string& fileName);

} // namespace app
