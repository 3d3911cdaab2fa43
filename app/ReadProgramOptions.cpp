#include "app/ReadProgramOptions.h"

#include "gateway/base/OptionReader.h"
#include "gateway/platform/ProcessFacts.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

using namespace gateway;

namespace app {

namespace {

std::filesystem::path pathOf(const std::string& utf8)
{
    return std::filesystem::path(reinterpret_cast<const char8_t*>(utf8.c_str()));
}

// The file's text, or none when there is no such file; throws UsageError when it is there but
// cannot be read.
std::optional<std::string> readText(const std::string& path)
{
    std::error_code error;
    const auto status = std::filesystem::status(pathOf(path), error);
    if (status.type() == std::filesystem::file_type::not_found) {
        return std::nullopt;
    }
    if (error || !std::filesystem::is_regular_file(status)) {
        throw UsageError("cannot read the settings file " + path + ": " +
                         (error ? error.message() : "it is no file"));
    }
    std::ifstream file(pathOf(path), std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (!file && !file.eof()) {
        throw UsageError("cannot read the settings file " + path);
    }
    return text;
}

} // namespace

ProgramOptions readProgramOptions(Program program, int argc, const char* const* argv,
                                  bool withServiceOptions)
{
    const ProgramOptions alone =
        parseProgramOptions(argc, argv, withServiceOptions, {}, {}, program);
    using Action = ProgramOptions::Action;
    if (alone.action == Action::Help || alone.action == Action::Version) {
        return alone;
    }
    const std::optional<std::string> named = configOption(argc, argv);
    const std::string path = named ? *named : machineSettingsFile();
    const std::optional<std::string> text = readText(path);
    if (!text) {
        if (named) {
            throw UsageError("--config: there is no settings file " + path);
        }
        return alone;
    }
    return parseProgramOptions(argc, argv, withServiceOptions, parseSettings(*text, path), path,
                               program);
}

} // namespace app
