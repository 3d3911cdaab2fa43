#pragma once

#include "gateway/base/Log.h"
#include "support/Recorder.h"

#include <vector>

// Collects log lines from any thread and lets a test wait for them.
class LogRecorder : public Recorder<gateway::Text>
{
public:
    gateway::LogSink sink()
    {
        return [this](gateway::TextView line) { add(gateway::Text(line)); };
    }

    std::vector<gateway::Text> lines() const { return items(); }
};
