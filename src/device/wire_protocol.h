#pragma once

#include <cstdint>

// The instrument's framed command protocol: block layout, command codes and
// sizes. Shared by the device link and the virtual instrument, which must
// agree on every byte.
namespace veltrane::wire {

constexpr std::uint32_t kMagic1 = 0x55443322;
constexpr std::uint32_t kMagic2 = 0x1A2B3C4D;

// CommandBlock field offsets.
constexpr std::uint32_t kOffMagic1 = 0;
constexpr std::uint32_t kOffMagic2 = 4;
constexpr std::uint32_t kOffDataLength = 8;
constexpr std::uint32_t kOffReserved = 12;
constexpr std::uint32_t kOffCommandLength = 16;
constexpr std::uint32_t kOffParamLength = 20;
constexpr std::uint32_t kOffCode = 24;
constexpr std::uint32_t kOffParams = 26;
constexpr std::uint32_t kHeaderSize = 24;
constexpr std::uint32_t kMaxParamLength = 16;
constexpr std::uint32_t kMaxBlockSize = kHeaderSize + kMaxParamLength;

// StatusBlock.
constexpr std::uint32_t kStatusSize = 16;
constexpr std::uint32_t kOffCompletion = 12;
constexpr std::uint32_t kReadyState = 0x8000;

// Command codes.
constexpr std::uint16_t kReadAuxInfoA = 0x0101;
constexpr std::uint16_t kReadAuxInfoB = 0x0102;
constexpr std::uint16_t kReadSensorRecord = 0x0005;
constexpr std::uint16_t kReadDeviceRecord = 0x0002;
constexpr std::uint16_t kReadPixelBlock = 0x0006;
constexpr std::uint16_t kStartExposure = 0x1005;
constexpr std::uint16_t kPollState = 0x1003;
constexpr std::uint16_t kSetLaser = 0x5001;
constexpr std::uint16_t kGetControlInfo = 0x4000;
constexpr std::uint16_t kSetFileName = 0x4002;
constexpr std::uint16_t kGetFileInfo = 0x4010;
constexpr std::uint16_t kFileRwRequest = 0x4011;
constexpr std::uint16_t kTransferChunk = 0x4013;
constexpr std::uint16_t kCloseFile = 0x4014;

// Reply and data-phase sizes.
constexpr std::uint32_t kAuxInfoSize = 8;
constexpr std::uint32_t kSensorRecordSize = 44;
constexpr std::uint32_t kDeviceRecordSize = 80;
constexpr std::uint32_t kPixelHeaderSize = 4;
constexpr std::uint32_t kMaxPixelsPerBlock = 1024;
constexpr std::uint32_t kPollReplySize = 12;
constexpr std::uint32_t kControlInfoSize = 8;
constexpr std::uint32_t kFileNameDataSize = 132;
constexpr std::uint32_t kPathFieldSize = 128;
constexpr std::uint32_t kMaxPathChars = 63;
constexpr std::uint32_t kFileInfoSize = 12;
constexpr std::uint32_t kMaxChunk = 1024;

// Sensor record fields.
constexpr std::uint32_t kSensorOffTotal = 32;
constexpr std::uint32_t kSensorOffFirst = 36;
constexpr std::uint32_t kSensorOffLast = 40;

// Device record fields.
constexpr std::uint32_t kDeviceOffLaser = 16;
constexpr std::uint32_t kDeviceOffType = 20;
constexpr std::uint32_t kDeviceOffHwMinor = 22;
constexpr std::uint32_t kDeviceOffHwMajor = 23;
constexpr std::uint32_t kDeviceOffFwMinor = 28;
constexpr std::uint32_t kDeviceOffFwMajor = 30;
constexpr std::uint32_t kDeviceOffOpticsSerial = 40;
constexpr std::uint32_t kOpticsSerialSize = 20;
constexpr std::uint32_t kDeviceOffSerial = 60;

// File transfer directions of FileRwRequest.
constexpr std::uint32_t kDirectionWrite = 0;
constexpr std::uint32_t kDirectionRead = 1;

// Instrument files.
constexpr const char* kCalibrationPath = "/SYS1/CALWAV.CFG";
constexpr const char* kLibraryStorePath = "/SYS1/QX810LIB.RLB";

} // namespace veltrane::wire
