#include "platform/worker_thread.h"

namespace veltrane {

WorkerThread::~WorkerThread() { stopAndWait(); }

void WorkerThread::start(std::function<void()> job) {
    reapIfFinished();
    m_stop.store(false, std::memory_order_release);
    m_done.store(false, std::memory_order_release);
    m_thread = std::thread([this, job = std::move(job)] {
        job();
        // The job's own last write (its state byte) comes before this one.
        m_done.store(true, std::memory_order_release);
    });
}

void WorkerThread::reapIfFinished() {
    if (m_thread.joinable() && m_done.load(std::memory_order_acquire)) m_thread.join();
}

void WorkerThread::stopAndWait() {
    m_stop.store(true, std::memory_order_release);
    if (m_thread.joinable()) m_thread.join();
}

} // namespace veltrane
