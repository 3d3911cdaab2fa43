#include "window/SerialWorker.h"

namespace window {

SerialWorker::SerialWorker() : m_thread([this] { run(); }) {}

SerialWorker::~SerialWorker()
{
    stop();
}

void SerialWorker::post(std::function<void()> job)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping) {
            return;
        }
        m_jobs.push_back(std::move(job));
    }
    m_wake.notify_one();
}

void SerialWorker::stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_jobs.clear();
    }
    m_wake.notify_one();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void SerialWorker::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
        if (m_stopping) {
            return;
        }
        std::function<void()> job = std::move(m_jobs.front());
        m_jobs.pop_front();
        lock.unlock();
        job();
        lock.lock();
    }
}

} // namespace window
