#include "platform/clock.h"

#include <thread>

namespace veltrane {

SteadyClock::SteadyClock(std::uint32_t startTick)
    : m_origin(std::chrono::steady_clock::now()), m_startTick(startTick) {}

std::uint32_t SteadyClock::tickCount() {
    auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - m_origin);
    return m_startTick + static_cast<std::uint32_t>(static_cast<std::uint64_t>(elapsed.count()));
}

void SteadyClock::sleep(std::uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

ScaledClock::ScaledClock(std::uint32_t factor, std::uint32_t startTick)
    : m_origin(std::chrono::steady_clock::now()), m_factor(factor == 0 ? 1 : factor), m_startTick(startTick) {}

std::uint32_t ScaledClock::tickCount() {
    auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - m_origin);
    std::uint64_t scaledMs = static_cast<std::uint64_t>(elapsed.count()) * m_factor / 1000u;
    return m_startTick + static_cast<std::uint32_t>(scaledMs);
}

void ScaledClock::sleep(std::uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::microseconds(static_cast<std::uint64_t>(ms) * 1000u / m_factor));
}

void PacedClock::sleep(std::uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::microseconds(static_cast<std::uint64_t>(ms) * 1000u / m_factor));
    m_now.fetch_add(ms, std::memory_order_acq_rel);
}

} // namespace veltrane
