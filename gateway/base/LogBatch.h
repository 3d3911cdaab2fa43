#pragma once

#include "gateway/base/Log.h"

#include <vector>

namespace gateway {

// The log lines of one piece of work (a request's run, a test send), kept in order and handed
// on together once it is over: its lines then take one write, after its answer, and those of
// other threads never fall between them. With no lines sink, each line goes to the line sink.
class LogBatch
{
public:
    LogBatch(const LogSink& line, const LogLinesSink& lines) : m_line(line), m_lines(lines) {}
    // Whatever is left is handed on: a run that fails keeps the lines it made.
    ~LogBatch()
    {
        try {
            flush();
        } catch (...) {
            // A log that cannot take its lines must not end the program while a failure is on
            // its way out.
        }
    }
    LogBatch(const LogBatch&) = delete;
    LogBatch& operator=(const LogBatch&) = delete;

    void add(TextView line) { m_pending.emplace_back(line); }
    // A sink that adds to this batch, for what logs on the batch's behalf; valid while it lives.
    LogSink sink()
    {
        return [this](TextView line) { add(line); };
    }

    void flush()
    {
        if (m_pending.empty()) {
            return;
        }
        std::vector<Text> lines;
        lines.swap(m_pending);
        if (m_lines) {
            m_lines(lines);
        } else if (m_line) {
            for (const Text& line : lines) {
                m_line(line);
            }
        }
    }

private:
    const LogSink& m_line;
    const LogLinesSink& m_lines;
    std::vector<Text> m_pending;
};

} // namespace gateway
