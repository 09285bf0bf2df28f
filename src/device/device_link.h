#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string_view>

#include "device/wire_protocol.h"
#include "platform/usb_bridge.h"

namespace veltrane {

using PathField = std::array<std::uint8_t, wire::kPathFieldSize>;

// The device path in the form the instrument expects: one UTF-16LE unit per
// byte of the 8-bit path, at most 63 of them, then a zero unit.
PathField MakePathField(std::string_view path);

// The only part of the program that talks to the instrument. Every command is
// one exchange: command block, optional data phase, 16-byte status block, with
// the device opened before and closed after, so nothing stays open between
// commands and an unplugged device needs nothing from the link.
//
// Every bridge status and transferred-byte count is checked: an exchange that
// did not go through completely reports failure, and its reply area is zeroed
// rather than left holding an earlier reply. One mutex keeps exactly one
// exchange in flight, whichever thread asks.
class DeviceLink {
public:
    explicit DeviceLink(UsbBridge& bridge);

    // Sets the bridge time-outs (3000 ms read, 1000 ms write) and counts the
    // devices once.
    void InitLink();
    // Counts the attached bridges; true when at least one is present. It does
    // not wait for an exchange in flight, so the connection check never
    // blocks the window while a worker talks to the device.
    bool CountDevices();

    bool ReadAuxInfoA();
    bool ReadAuxInfoB();
    bool ReadSensorRecord();
    bool ReadDeviceRecord();
    bool ReadPixelBlock(std::uint16_t pixelCount, std::uint16_t blockIndex);
    bool StartExposure(std::uint32_t exposureMs);
    // The device state word; kPollFailed when the exchange failed, which is
    // never ReadyState, so a lost device can only end a wait by its time-out.
    std::uint32_t PollState();
    bool SetLaser(std::uint16_t on, std::uint16_t second);
    bool GetControlInfo();
    bool SetFileName(const PathField& path);
    bool GetFileInfo(std::uint32_t& exists, std::uint32_t& size);
    bool FileRwRequest(std::uint32_t direction, std::uint32_t size);
    // Moves n (1..1024) bytes of the open file: into `buffer` when reading
    // (direction 1), from it when writing (direction 0).
    bool TransferChunk(std::uint32_t direction, std::uint8_t* buffer, std::uint32_t n);
    bool CloseFile();

    static constexpr std::uint32_t kPollFailed = 0;

    // Copies of the reply areas, valid after the matching command succeeded.
    std::array<std::uint8_t, wire::kAuxInfoSize> auxInfoA() const;
    std::array<std::uint8_t, wire::kAuxInfoSize> auxInfoB() const;
    std::array<std::uint8_t, wire::kSensorRecordSize> sensorRecord() const;
    std::array<std::uint8_t, wire::kDeviceRecordSize> deviceRecord() const;
    // Copies `count` pixel values of the last ReadPixelBlock into `out`.
    void pixelValues(std::uint16_t* out, std::uint32_t count) const;
    std::uint32_t deviceCount() const;
    // See UsbBridge::takeAccessDeniedNotice.
    bool takeAccessDeniedNotice() { return m_bridge.takeAccessDeniedNotice(); }

private:
    struct Exchange {
        std::uint16_t code;
        const std::uint8_t* params = nullptr;
        std::uint32_t paramLength = 2;    // including the code
        std::uint32_t commandLength = 0;  // 0: 24 + paramLength
        std::uint32_t dataLength = 0;     // the block's data-length field
        std::uint8_t* readInto = nullptr; // data phase from the device
        std::uint32_t readBytes = 0;
        const std::uint8_t* writeFrom = nullptr; // data phase to the device
        std::uint32_t writeBytes = 0;
        bool countFirst = true;           // false only for PollState
    };

    UsbBridge& m_bridge;
    mutable std::mutex m_mutex;
    std::atomic<std::uint32_t> m_deviceCount{0};
    std::array<std::uint8_t, wire::kMaxBlockSize> m_block{};
    std::array<std::uint8_t, wire::kStatusSize> m_status{};
    std::array<std::uint8_t, wire::kAuxInfoSize> m_auxA{};
    std::array<std::uint8_t, wire::kAuxInfoSize> m_auxB{};
    std::array<std::uint8_t, wire::kSensorRecordSize> m_sensor{};
    std::array<std::uint8_t, wire::kDeviceRecordSize> m_device{};
    std::array<std::uint8_t, 2 * wire::kMaxPixelsPerBlock + wire::kPixelHeaderSize> m_pixels{};
    std::array<std::uint8_t, wire::kPollReplySize> m_poll{};
    std::array<std::uint8_t, wire::kControlInfoSize> m_controlInfo{};
    std::array<std::uint8_t, wire::kFileInfoSize> m_fileInfo{};
    std::array<std::uint8_t, wire::kMaxChunk> m_staging{};

    bool run(const Exchange& exchange); // caller holds m_mutex
    bool readCommand(std::uint16_t code, std::uint8_t* area, std::uint32_t size);
    bool plainCommand(std::uint16_t code, const std::uint8_t* params, std::uint32_t paramLength);
};

} // namespace veltrane
