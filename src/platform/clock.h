#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace veltrane {

// The millisecond tick count and sleep that every timed wait of the program
// uses. Ticks are 32-bit and wrap, as the instrument's time-outs assume:
// differences are always taken modulo 2^32.
class Clock {
public:
    virtual ~Clock() = default;
    virtual std::uint32_t tickCount() = 0;
    virtual void sleep(std::uint32_t ms) = 0;
};

inline std::uint32_t TicksSince(std::uint32_t start, std::uint32_t now) { return now - start; }

// Real time: milliseconds since the clock was made, wrapped to 32 bits.
class SteadyClock : public Clock {
public:
    explicit SteadyClock(std::uint32_t startTick = 0);
    std::uint32_t tickCount() override;
    void sleep(std::uint32_t ms) override;

private:
    std::chrono::steady_clock::time_point m_origin;
    std::uint32_t m_startTick;
};

// Test time: nothing passes unless someone sleeps or advances it, and a sleep
// returns at once having moved the time on. Safe to read from several
// threads, though tests with workers normally use ScaledClock instead.
class VirtualClock : public Clock {
public:
    explicit VirtualClock(std::uint32_t startTick = 0) : m_now(startTick) {}
    std::uint32_t tickCount() override { return m_now.load(std::memory_order_acquire); }
    void sleep(std::uint32_t ms) override {
        m_slept.fetch_add(ms, std::memory_order_acq_rel);
        advance(ms);
    }
    void advance(std::uint32_t ms) { m_now.fetch_add(ms, std::memory_order_acq_rel); }
    void set(std::uint32_t tick) { m_now.store(tick, std::memory_order_release); }
    // Total time spent in sleep() since construction, so tests can tell a wait
    // that slept from one that did not.
    std::uint64_t sleptMs() const { return m_slept.load(std::memory_order_acquire); }

private:
    std::atomic<std::uint32_t> m_now;
    std::atomic<std::uint64_t> m_slept{0};
};

// Real time running faster by a whole factor: a 20 s preheat under factor 100
// takes 200 ms of wall time. Used by threaded end-to-end tests and by the
// simulator when a user wants a quick demonstration.
class ScaledClock : public Clock {
public:
    explicit ScaledClock(std::uint32_t factor, std::uint32_t startTick = 0);
    std::uint32_t tickCount() override;
    void sleep(std::uint32_t ms) override;
    std::uint32_t factor() const { return m_factor; }

private:
    std::chrono::steady_clock::time_point m_origin;
    std::uint32_t m_factor;
    std::uint32_t m_startTick;
};

// Simulated time paced against real time: time passes only in sleep(), as
// on a VirtualClock, and each sleep also waits ms / factor of real time, so a
// run still takes about 1/factor of the time it simulates. Unlike a
// ScaledClock, a busy machine that keeps a thread from running for a few
// milliseconds cannot move the time past a deadline meanwhile (at factor
// 1000, 3 ms of real time are a device's whole 3 s wait): the virtual
// instrument of veltrane-cli measure --sim-speed uses it. Only one thread
// may sleep on it; any may read it.
class PacedClock : public Clock {
public:
    explicit PacedClock(std::uint32_t factor, std::uint32_t startTick = 0)
        : m_now(startTick), m_factor(factor == 0 ? 1 : factor) {}
    std::uint32_t tickCount() override { return m_now.load(std::memory_order_acquire); }
    void sleep(std::uint32_t ms) override;

private:
    std::atomic<std::uint32_t> m_now;
    std::uint32_t m_factor;
};

} // namespace veltrane
