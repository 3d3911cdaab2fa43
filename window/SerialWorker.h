#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace window {

// One thread that runs jobs one after another, in the order they were posted.
class SerialWorker
{
public:
    SerialWorker();
    ~SerialWorker();
    SerialWorker(const SerialWorker&) = delete;
    SerialWorker& operator=(const SerialWorker&) = delete;

    // Never waits for a running job. Jobs posted after stop() are dropped.
    void post(std::function<void()> job);
    // Drops the jobs that have not started, waits for the running one and ends the thread.
    void stop();

private:
    void run();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace window
