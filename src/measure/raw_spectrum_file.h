#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "measure/sample_info.h"
#include "measure/spectrum_header.h"

namespace veltrane {

struct MeasurementSession;
struct DeviceInfo;

// The frame lengths a raw spectrum file carries: the two large sensors and
// the 256-pixel class. Each stands for a pixel count.
constexpr std::int32_t kRawFrame2500 = 2546;
constexpr std::int32_t kRawFrame2048 = 2068;
constexpr std::int32_t kRawFrame256 = 256;
constexpr std::size_t kMaxRawFrame = 2546;

// Pixel count of a frame length, 0 for a length the program does not know.
std::uint16_t RawFilePixelCount(std::int32_t frameLength);
// File size of a raw spectrum file with N values: 140 + 8N bytes.
constexpr std::size_t RawFileSize(std::int32_t n) {
    return 140u + 8u * static_cast<std::size_t>(n);
}

// The last raw spectrum file read (and the scalar fields of the last saved).
struct RawFileRecord {
    SpectrumHeader header;
    std::int32_t frameLength = 0;
    std::array<float, kMaxRawFrame> intensities{};
    std::array<float, kMaxRawFrame> wavenumbers{};
    float laserWavelength = 0.0f;
    std::int32_t laserPixel = 0;
    std::int32_t windowStart = 0;
    std::int32_t windowEnd = 0;
};

// The whole file, byte for byte: header, N, N intensities, N absolute
// wavenumbers, laser wavelength, laser pixel, window start and end.
std::string EncodeRawSpectrumFile(const SpectrumHeader& header, const std::vector<float>& intensities,
                                  const std::vector<float>& wavenumbers, float laserWavelength, std::int32_t laserPixel,
                                  std::int32_t windowStart, std::int32_t windowEnd);

enum class RawFileCheck : std::uint8_t { Ok, UnknownFormat, Incomplete, WindowOutside };
// Decodes a file into `record`; on any refusal `record` is left as it was.
RawFileCheck DecodeRawSpectrumFile(std::string_view bytes, RawFileRecord& record);

// Messages of the save and open flows.
constexpr const char* kNoDataToSave = "No data to save!";
constexpr const char* kNoWaveCalibration = "No wave calibration!";
constexpr const char* kSaveFailed = "Can not save file!";
constexpr const char* kOpenFailed = "Can not open file!";
constexpr const char* kUnknownRawFormat = "Unknown raw data format!";
constexpr const char* kIncompleteRawFile = "Raw data file incomplete!";
constexpr const char* kRawWindowOutside = "Raw data window out of range!";
constexpr const char* kRawFilter = "rsd(*.rsd)|*.rsd";

// Whether the shown spectrum may be saved: nullptr when it may, else the
// message that refuses it.
const char* SaveRawRefusal(const MeasurementSession& session, const DeviceInfo& device);

// The serial number and exposure of the capture that has just ended (the
// integration time the trials chose, when they chose one).
CaptureSettings CaptureSettingsOf(const MeasurementSession& session, const DeviceInfo& device);

// Builds the file of the current measurement named `fileName` (without
// folder) at `when`, and stores its laser wavelength, laser pixel and window
// in `record`.
std::string BuildRawSpectrumFile(const MeasurementSession& session, const DeviceInfo& device,
                                 const std::string& fileName, const LocalDateTime& when, RawFileRecord& record);

// Makes a decoded file the shown spectrum: pixel count, intensities, Raman
// shifts as the axis, dark cleared, the data flags.
void ApplyRawSpectrum(const RawFileRecord& record, MeasurementSession& session, DeviceInfo& device);

} // namespace veltrane
