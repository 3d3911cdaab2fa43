#include "gateway/platform/FileSystem.h"

#include "gateway/platform/WindowsText.h"
#include "gateway/platform/WindowsTime.h"

#include <windows.h>

#include <memory>

namespace gateway {

namespace {

// The number, with what it means for the errors a move aside or a removal meets most.
std::string lastErrorText()
{
    const DWORD error = ::GetLastError();
    std::string text = "Windows error " + std::to_string(error);
    switch (error) {
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
        return text + ": a file of that name is there already";
    case ERROR_SHARING_VIOLATION:
        return text + ": another program has it open";
    case ERROR_ACCESS_DENIED:
        return text + ": access denied (another program may have it open)";
    default:
        return text;
    }
}

} // namespace

std::optional<std::chrono::system_clock::time_point> lastWriteOfContent(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA facts{};
    if (!::GetFileAttributesExW(widen(path).c_str(), GetFileExInfoStandard, &facts) ||
        (facts.nFileSizeHigh == 0 && facts.nFileSizeLow == 0)) {
        return std::nullopt;
    }
    return systemTimeOf(facts.ftLastWriteTime);
}

std::string moveAside(const std::string& from, const std::string& to)
{
    // Without MOVEFILE_REPLACE_EXISTING the move fails when to is there.
    return ::MoveFileExW(widen(from).c_str(), widen(to).c_str(), 0) ? std::string()
                                                                    : lastErrorText();
}

std::vector<std::string> fileNamesIn(const std::string& folder, std::string& reason)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAW found{};
    HANDLE first = ::FindFirstFileW(widen((folder.empty() ? ".\\" : folder) + "*").c_str(), &found);
    if (first == INVALID_HANDLE_VALUE) {
        reason = lastErrorText();
        return names;
    }
    const auto close = [](HANDLE search) { ::FindClose(search); };
    const std::unique_ptr<void, decltype(close)> search(first, close);
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            names.push_back(narrow(found.cFileName));
        }
    } while (::FindNextFileW(search.get(), &found));
    return names;
}

std::string removeFile(const std::string& path)
{
    return ::DeleteFileW(widen(path).c_str()) ? std::string() : lastErrorText();
}

} // namespace gateway
