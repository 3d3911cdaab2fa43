#pragma once

#include <cstdio>
#include <mutex>
#include <string_view>

namespace gateway {

// Whole lines on a standard stream from any thread: one writer at a time, each line flushed at
// once for whoever watches (a terminal, a pipe, the journal, a test script).
class LineOutput
{
public:
    explicit LineOutput(std::FILE* stream) : m_stream(stream) {}

    void line(std::string_view text)
    {
        std::lock_guard lock(m_mutex);
        std::fwrite(text.data(), 1, text.size(), m_stream);
        std::fputc('\n', m_stream);
        std::fflush(m_stream);
    }

private:
    std::FILE* const m_stream;
    std::mutex m_mutex;
};

} // namespace gateway
