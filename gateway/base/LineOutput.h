#pragma once

#include <cstdio>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

namespace gateway {

// Whole lines on a standard stream from any thread: one writer at a time, each line flushed at
// once for whoever watches (a terminal, a pipe, the journal, a test script).
class LineOutput
{
public:
    explicit LineOutput(std::FILE* stream) : m_stream(stream) {}

    void line(std::string_view text) { lines(std::span<const std::string_view>(&text, 1)); }

    // Several lines in one write: a request's lines stay together, at the cost of one system
    // call.
    template <typename Line> void lines(std::span<const Line> texts)
    {
        std::string joined;
        for (const Line& text : texts) {
            joined.append(text);
            joined += '\n';
        }
        std::lock_guard lock(m_mutex);
        std::fwrite(joined.data(), 1, joined.size(), m_stream);
        std::fflush(m_stream);
    }

private:
    std::FILE* const m_stream;
    std::mutex m_mutex;
};

} // namespace gateway
