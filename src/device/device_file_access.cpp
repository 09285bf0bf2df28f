#include "device/device_file_access.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "device/device_info.h"
#include "platform/byte_order.h"

namespace veltrane {

bool WaitForReadyState(DeviceLink& link, Clock& clock, WaitOrder order, const std::atomic<bool>* stop) {
    auto stopped = [stop] { return stop && stop->load(std::memory_order_acquire); };
    std::uint32_t start = clock.tickCount();
    std::uint32_t now = start;
    if (order == WaitOrder::SleepFirst) {
        clock.sleep(kReadyPollMs);
        now = clock.tickCount();
    }
    while (TicksSince(start, now) < kReadyWaitMs) {
        if (stopped()) return false;
        if (link.PollState() == wire::kReadyState) return true;
        clock.sleep(kReadyPollMs);
        now = clock.tickCount();
    }
    // Time ran out without the device ever reporting ready. (Calling a wait
    // that ends at exactly 3000 ms a success would announce a transfer step
    // the device never completed.)
    return false;
}

FileAccessResult DeviceFileAccess::select(std::string_view path, bool forRead, std::uint32_t& size) {
    size = 0;
    if (!m_link.GetControlInfo()) return FileAccessResult::ControlInfoFailed;
    if (!m_link.SetFileName(MakePathField(path))) return FileAccessResult::SetFileNameFailed;
    std::uint32_t exists = 0;
    if (!m_link.GetFileInfo(exists, size)) return FileAccessResult::FileInfoFailed;
    if (forRead && exists == 0) return FileAccessResult::FileNotExist;
    return FileAccessResult::Success;
}

FileAccessResult DeviceFileAccess::request(std::uint32_t direction, std::uint32_t size) {
    if (!m_link.FileRwRequest(direction, size)) return FileAccessResult::RwRequestFailed;
    if (!WaitForReadyState(m_link, m_clock, WaitOrder::AskFirst, m_stop)) return FileAccessResult::RequestTimeout;
    return FileAccessResult::Success;
}

FileAccessResult DeviceFileAccess::readChunk(std::uint8_t* out, std::uint32_t n, WaitOrder order) {
    if (!m_link.TransferChunk(wire::kDirectionRead, out, n)) return FileAccessResult::ChunkFailed;
    if (!WaitForReadyState(m_link, m_clock, order, m_stop)) return FileAccessResult::ChunkTimeout;
    return FileAccessResult::Success;
}

FileAccessResult DeviceFileAccess::writeChunk(const std::uint8_t* data, std::uint32_t n, WaitOrder order) {
    std::array<std::uint8_t, wire::kMaxChunk> chunk{};
    n = std::min<std::uint32_t>(n, wire::kMaxChunk);
    std::memcpy(chunk.data(), data, n);
    if (!m_link.TransferChunk(wire::kDirectionWrite, chunk.data(), n)) return FileAccessResult::ChunkFailed;
    if (!WaitForReadyState(m_link, m_clock, order, m_stop)) return FileAccessResult::ChunkTimeout;
    return FileAccessResult::Success;
}

FileAccessResult DeviceFileAccess::close() {
    return m_link.CloseFile() ? FileAccessResult::Success : FileAccessResult::CloseFailed;
}

namespace {

constexpr std::uint32_t kCalibrationBytes = 24;

FileAccessResult FetchCalibration(DeviceLink& link, Clock& clock, std::array<std::uint8_t, kCalibrationBytes>& bytes,
                                  std::uint32_t& received) {
    DeviceFileAccess file(link, clock);
    std::uint32_t size = 0;
    FileAccessResult result = file.select(wire::kCalibrationPath, true, size);
    if (result != FileAccessResult::Success) return result;
    // An empty file holds no calibration; nothing is requested from it.
    if (size == 0) return FileAccessResult::FileNotExist;
    if ((result = file.request(wire::kDirectionRead, size)) != FileAccessResult::Success) return result;
    // Only the first 24 bytes mean anything. A longer file is read no further
    // than its first chunk, which keeps every chunk within the 1024-byte limit
    // of the protocol; closing the file ends the transfer on the device.
    std::uint32_t chunk = std::min(size, wire::kMaxChunk);
    std::array<std::uint8_t, wire::kMaxChunk> buffer{};
    if ((result = file.readChunk(buffer.data(), chunk, WaitOrder::AskFirst)) != FileAccessResult::Success)
        return result;
    if ((result = file.close()) != FileAccessResult::Success) return result;
    received = std::min(chunk, kCalibrationBytes);
    std::memcpy(bytes.data(), buffer.data(), received);
    return FileAccessResult::Success;
}

} // namespace

FileAccessResult ReadCalibration(DeviceLink& link, Clock& clock, DeviceInfo& device) {
    std::array<std::uint8_t, kCalibrationBytes> bytes{};
    std::uint32_t received = 0;
    FileAccessResult result = FetchCalibration(link, clock, bytes, received);
    // Without c1 there is no slope: fewer than eight bytes make no axis.
    if (result == FileAccessResult::Success && received >= 8) {
        device.waveCal.fill(0.0f);
        for (std::uint32_t i = 0; i < received / 4; ++i)
            device.waveCal[i] = GetF32(bytes.data() + 4 * i);
        device.waveCalValid = true;
    } else {
        std::copy(std::begin(kDefaultWaveCal), std::end(kDefaultWaveCal), device.waveCal.begin());
        device.waveCalValid = false;
    }
    return result;
}

} // namespace veltrane
