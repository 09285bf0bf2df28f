#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>

#include "device/device_link.h"
#include "platform/clock.h"

namespace veltrane {

struct DeviceInfo;

// Outcome of a file access on the instrument.
enum class FileAccessResult : std::uint8_t {
    Success = 0,
    ControlInfoFailed = 1,
    SetFileNameFailed = 2,
    FileInfoFailed = 3,
    FileNotExist = 4,
    RwRequestFailed = 5,
    RequestTimeout = 6,
    ChunkFailed = 7,
    ChunkTimeout = 8,
    CloseFailed = 9,
    NotConnected = 10,
};

// The order of a wait for ReadyState: after a file request every user asks
// first; after a library transfer chunk the wait sleeps first.
enum class WaitOrder : std::uint8_t { AskFirst, SleepFirst };

constexpr std::uint32_t kReadyWaitMs = 3000;
constexpr std::uint32_t kReadyPollMs = 50;

// Polls every 50 ms until the device reports ReadyState; fails when 3000 ms
// pass without it.
// A raised `stop` ends the wait at its next step, as a time-out.
bool WaitForReadyState(DeviceLink& link, Clock& clock, WaitOrder order, const std::atomic<bool>* stop = nullptr);

// The instrument's file access sequence, one step per call, each returning
// its own failure code. Users run the steps in order; a failure ends the
// sequence (the library transfers still close after a failed chunk).
class DeviceFileAccess {
public:
    DeviceFileAccess(DeviceLink& link, Clock& clock, const std::atomic<bool>* stop = nullptr)
        : m_link(link), m_clock(clock), m_stop(stop) {}

    // Steps 1 to 3: control information, file name, file information. For a
    // read, a missing file gives FileNotExist; `size` receives the size the
    // device reports either way.
    FileAccessResult select(std::string_view path, bool forRead, std::uint32_t& size);
    // Steps 4 and 5: announce the transfer and wait for the device, asking first.
    FileAccessResult request(std::uint32_t direction, std::uint32_t size);
    // Step 6, one chunk of at most 1024 bytes and the wait after it.
    FileAccessResult readChunk(std::uint8_t* out, std::uint32_t n, WaitOrder order);
    FileAccessResult writeChunk(const std::uint8_t* data, std::uint32_t n, WaitOrder order);
    // Step 7.
    FileAccessResult close();

private:
    DeviceLink& m_link;
    Clock& m_clock;
    const std::atomic<bool>* m_stop;
};

// Default calibration, used whenever the read fails: the axis then numbers
// the pixels from 1.
constexpr float kDefaultWaveCal[6] = {1.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f};

// Reads "/SYS1/CALWAV.CFG" into waveCal and waveCalValid of the state.
FileAccessResult ReadCalibration(DeviceLink& link, Clock& clock, DeviceInfo& device);

} // namespace veltrane
