#pragma once

#include <atomic>
#include <functional>
#include <thread>

namespace veltrane {

// A worker the window starts and never blocks on: one job on its own thread,
// a flag that tells when the job has returned, and a stop request the job
// looks at during its waits.
class WorkerThread {
public:
    WorkerThread() = default;
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;
    ~WorkerThread();

    // Starts `job`. The caller makes sure the previous job has returned.
    void start(std::function<void()> job);
    // The job has been started and has not returned yet.
    bool busy() const { return !m_done.load(std::memory_order_acquire); }
    // Frees the thread of a job that has returned; never waits.
    void reapIfFinished();
    // Asks the job to stop at its next wait; never waits.
    void requestStop() { m_stop.store(true, std::memory_order_release); }
    // Asks the job to stop and waits until it has returned.
    void stopAndWait();
    const std::atomic<bool>* stopFlag() const { return &m_stop; }

private:
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_done{true};
};

} // namespace veltrane
