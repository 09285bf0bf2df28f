#include "device/device_link.h"

#include <algorithm>
#include <cstring>

#include "platform/byte_order.h"

namespace veltrane {

namespace {
constexpr std::uint32_t kReadTimeoutMs = 3000;
constexpr std::uint32_t kWriteTimeoutMs = 1000;
} // namespace

PathField MakePathField(std::string_view path) {
    PathField field{};
    std::size_t chars = std::min<std::size_t>(path.size(), wire::kMaxPathChars);
    for (std::size_t i = 0; i < chars; ++i)
        PutU16(field.data() + 2 * i, static_cast<std::uint8_t>(path[i]));
    // The unit after the last character is already zero.
    return field;
}

DeviceLink::DeviceLink(UsbBridge& bridge) : m_bridge(bridge) {}

void DeviceLink::InitLink() {
    std::lock_guard lock(m_mutex);
    m_bridge.setTimeouts(kReadTimeoutMs, kWriteTimeoutMs);
    std::uint32_t count = 0;
    m_bridge.getNumDevices(count);
    m_deviceCount = count;
}

bool DeviceLink::CountDevices() {
    std::uint32_t count = 0;
    BridgeStatus status = m_bridge.getNumDevices(count);
    m_deviceCount = count;
    return status == BridgeStatus::Success && count > 0;
}

std::uint32_t DeviceLink::deviceCount() const { return m_deviceCount; }

bool DeviceLink::run(const Exchange& x) {
    m_block.fill(0);
    PutU32(m_block.data() + wire::kOffMagic1, wire::kMagic1);
    PutU32(m_block.data() + wire::kOffMagic2, wire::kMagic2);
    PutU32(m_block.data() + wire::kOffDataLength, x.dataLength);
    PutU32(m_block.data() + wire::kOffReserved, 0);
    PutU32(m_block.data() + wire::kOffCommandLength,
           x.commandLength != 0 ? x.commandLength : wire::kHeaderSize + x.paramLength);
    PutU32(m_block.data() + wire::kOffParamLength, x.paramLength);
    PutU16(m_block.data() + wire::kOffCode, x.code);
    if (x.params) std::memcpy(m_block.data() + wire::kOffParams, x.params, x.paramLength - 2);

    if (x.countFirst) {
        std::uint32_t count = 0;
        BridgeStatus status = m_bridge.getNumDevices(count);
        m_deviceCount = count;
        if (status != BridgeStatus::Success || count == 0) return false;
    }
    // The last enumerated bridge is the one used.
    std::uint32_t count = m_deviceCount;
    if (count == 0) return false;
    BridgeHandle handle = kInvalidBridgeHandle;
    if (m_bridge.open(count - 1, handle) != BridgeStatus::Success) return false;

    bool ok = true;
    std::uint32_t transferred = 0;
    std::uint32_t blockSize = wire::kHeaderSize + x.paramLength;
    if (m_bridge.write(handle, m_block.data(), blockSize, transferred) != BridgeStatus::Success ||
        transferred != blockSize) {
        // The command never reached the device whole: there is no exchange to
        // finish.
        m_bridge.close(handle);
        return false;
    }
    if (x.readInto) {
        transferred = 0;
        if (m_bridge.read(handle, x.readInto, x.readBytes, transferred) != BridgeStatus::Success ||
            transferred != x.readBytes)
            ok = false;
    } else if (x.writeFrom) {
        transferred = 0;
        if (m_bridge.write(handle, x.writeFrom, x.writeBytes, transferred) != BridgeStatus::Success ||
            transferred != x.writeBytes)
            ok = false;
    }
    // The status block is read even after a failed data phase: the device
    // sends it regardless, and leaving it unread would put the next exchange
    // out of step.
    transferred = 0;
    m_status.fill(0);
    if (m_bridge.read(handle, m_status.data(), wire::kStatusSize, transferred) != BridgeStatus::Success ||
        transferred != wire::kStatusSize)
        ok = false;
    m_bridge.close(handle);
    return ok;
}

bool DeviceLink::readCommand(std::uint16_t code, std::uint8_t* area, std::uint32_t size) {
    std::lock_guard lock(m_mutex);
    Exchange x{code};
    x.dataLength = size;
    x.readInto = area;
    x.readBytes = size;
    bool ok = run(x);
    if (!ok) std::fill_n(area, size, 0);
    return ok;
}

bool DeviceLink::plainCommand(std::uint16_t code, const std::uint8_t* params, std::uint32_t paramLength) {
    std::lock_guard lock(m_mutex);
    Exchange x{code};
    x.params = params;
    x.paramLength = paramLength;
    return run(x);
}

bool DeviceLink::ReadAuxInfoA() { return readCommand(wire::kReadAuxInfoA, m_auxA.data(), wire::kAuxInfoSize); }
bool DeviceLink::ReadAuxInfoB() { return readCommand(wire::kReadAuxInfoB, m_auxB.data(), wire::kAuxInfoSize); }
bool DeviceLink::ReadSensorRecord() {
    return readCommand(wire::kReadSensorRecord, m_sensor.data(), wire::kSensorRecordSize);
}
bool DeviceLink::ReadDeviceRecord() {
    return readCommand(wire::kReadDeviceRecord, m_device.data(), wire::kDeviceRecordSize);
}

bool DeviceLink::ReadPixelBlock(std::uint16_t pixelCount, std::uint16_t blockIndex) {
    if (pixelCount == 0 || pixelCount > wire::kMaxPixelsPerBlock) return false;
    std::lock_guard lock(m_mutex);
    std::uint8_t params[2];
    PutU16(params, blockIndex);
    Exchange x{wire::kReadPixelBlock};
    x.params = params;
    x.paramLength = 4;
    x.commandLength = pixelCount; // this command carries the pixel count there
    x.dataLength = 2u * pixelCount + wire::kPixelHeaderSize;
    x.readInto = m_pixels.data();
    x.readBytes = x.dataLength;
    bool ok = run(x);
    if (!ok) m_pixels.fill(0);
    return ok;
}

bool DeviceLink::StartExposure(std::uint32_t exposureMs) {
    std::uint8_t params[14];
    PutU16(params, 0);
    PutU32(params + 2, exposureMs);
    PutU32(params + 6, 1);
    PutU32(params + 10, 0);
    return plainCommand(wire::kStartExposure, params, 16);
}

std::uint32_t DeviceLink::PollState() {
    std::lock_guard lock(m_mutex);
    Exchange x{wire::kPollState};
    x.dataLength = wire::kPollReplySize;
    x.readInto = m_poll.data();
    x.readBytes = wire::kPollReplySize;
    // PollState rides on the count of the command before it: it is only ever
    // sent right after one, and it runs at every wait step.
    x.countFirst = false;
    if (m_deviceCount == 0 || !run(x)) {
        m_poll.fill(0);
        return kPollFailed;
    }
    return GetU32(m_poll.data() + 4);
}

bool DeviceLink::SetLaser(std::uint16_t on, std::uint16_t second) {
    std::uint8_t params[4];
    PutU16(params, on);
    PutU16(params + 2, second);
    std::lock_guard lock(m_mutex);
    Exchange x{wire::kSetLaser};
    x.params = params;
    x.paramLength = 6;
    if (!run(x)) return false;
    return GetU32(m_status.data() + wire::kOffCompletion) == wire::kReadyState;
}

bool DeviceLink::GetControlInfo() {
    return readCommand(wire::kGetControlInfo, m_controlInfo.data(), wire::kControlInfoSize);
}

bool DeviceLink::SetFileName(const PathField& path) {
    std::array<std::uint8_t, wire::kFileNameDataSize> data{};
    PutU16(data.data(), wire::kSetFileName);
    PutU16(data.data() + 2, 0);
    std::memcpy(data.data() + 4, path.data(), path.size());
    std::lock_guard lock(m_mutex);
    Exchange x{wire::kSetFileName};
    x.dataLength = wire::kFileNameDataSize;
    x.writeFrom = data.data();
    x.writeBytes = wire::kFileNameDataSize;
    return run(x);
}

bool DeviceLink::GetFileInfo(std::uint32_t& exists, std::uint32_t& size) {
    std::lock_guard lock(m_mutex);
    Exchange x{wire::kGetFileInfo};
    x.dataLength = wire::kFileInfoSize;
    x.readInto = m_fileInfo.data();
    x.readBytes = wire::kFileInfoSize;
    bool ok = run(x);
    if (!ok) m_fileInfo.fill(0);
    exists = GetU32(m_fileInfo.data() + 4);
    size = GetU32(m_fileInfo.data() + 8);
    return ok;
}

bool DeviceLink::FileRwRequest(std::uint32_t direction, std::uint32_t size) {
    std::uint8_t params[10];
    PutU16(params, 0);
    PutU32(params + 2, direction);
    PutU32(params + 6, size);
    return plainCommand(wire::kFileRwRequest, params, 12);
}

bool DeviceLink::TransferChunk(std::uint32_t direction, std::uint8_t* buffer, std::uint32_t n) {
    if (n == 0 || n > wire::kMaxChunk) return false;
    std::lock_guard lock(m_mutex);
    Exchange x{wire::kTransferChunk};
    if (direction == wire::kDirectionRead) {
        x.dataLength = n;
        x.readInto = m_staging.data();
        x.readBytes = n;
        bool ok = run(x);
        if (ok) std::memcpy(buffer, m_staging.data(), n);
        return ok;
    }
    std::memcpy(m_staging.data(), buffer, n);
    x.dataLength = 0;
    x.writeFrom = m_staging.data();
    x.writeBytes = n;
    return run(x);
}

bool DeviceLink::CloseFile() { return plainCommand(wire::kCloseFile, nullptr, 2); }

std::array<std::uint8_t, wire::kAuxInfoSize> DeviceLink::auxInfoA() const {
    std::lock_guard lock(m_mutex);
    return m_auxA;
}
std::array<std::uint8_t, wire::kAuxInfoSize> DeviceLink::auxInfoB() const {
    std::lock_guard lock(m_mutex);
    return m_auxB;
}
std::array<std::uint8_t, wire::kSensorRecordSize> DeviceLink::sensorRecord() const {
    std::lock_guard lock(m_mutex);
    return m_sensor;
}
std::array<std::uint8_t, wire::kDeviceRecordSize> DeviceLink::deviceRecord() const {
    std::lock_guard lock(m_mutex);
    return m_device;
}
void DeviceLink::pixelValues(std::uint16_t* out, std::uint32_t count) const {
    std::lock_guard lock(m_mutex);
    count = std::min<std::uint32_t>(count, wire::kMaxPixelsPerBlock);
    for (std::uint32_t i = 0; i < count; ++i) out[i] = GetU16(m_pixels.data() + wire::kPixelHeaderSize + 2 * i);
}

} // namespace veltrane
