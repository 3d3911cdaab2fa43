#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace gateway {

// An open file that records are appended to, each in one write, created readable by its owner
// and group only (0640 on POSIX systems); others may read it and move it away while it is open.
// Implemented once for POSIX systems and once for Windows.
class AppendHandle
{
public:
    // Opens path, creating it when it is not there; an unopened handle, with the system's reason
    // in reason, when it cannot.
    static AppendHandle open(const std::string& path, std::string& reason);

    AppendHandle() = default;
    AppendHandle(AppendHandle&& other) noexcept : m_native(std::exchange(other.m_native, closed)) {}
    AppendHandle& operator=(AppendHandle&& other) noexcept
    {
        if (this != &other) {
            close();
            m_native = std::exchange(other.m_native, closed);
        }
        return *this;
    }
    ~AppendHandle() { close(); }

    bool isOpen() const { return m_native != closed; }
    // All of bytes in one write; the system's reason when they could not be written in whole.
    std::string write(std::string_view bytes);

private:
    // A descriptor or a Windows handle; both systems' "none" is -1.
    static constexpr std::intptr_t closed = -1;
    explicit AppendHandle(std::intptr_t native) : m_native(native) {}
    // The one step that differs between the systems.
    void close();

    std::intptr_t m_native = closed;
};

} // namespace gateway
