#include "identify/shift_spectrum.h"

#include <cmath>
#include <memory>

#include "device/device_connection.h"
#include "library/library_file.h"
#include "measure/spectral_axis.h"
#include "platform/byte_order.h"

namespace veltrane {

const char* ShiftReadReason(ShiftRead read) {
    switch (read) {
    case ShiftRead::Ok:
        return "";
    case ShiftRead::UnknownFormat:
        return "unknown file format";
    case ShiftRead::Damaged:
        return "damaged raw data file";
    case ShiftRead::WavelengthAxis:
        return "X values are wavelengths and the file has no laser wavelength";
    }
    return "";
}

bool IsSmallSensorModelCode(std::uint16_t code) {
    // Model code 1 stands for the 256-pixel class as a whole; the others are
    // the instrument types of that class.
    return code == 1 || (code <= 0xFF && IsSmallSensorType(static_cast<std::uint8_t>(code)));
}

namespace {

// A small sensor's library made from a capture holds wavelengths; one made
// from a saved raw file, or by this program since it stores what the chart
// shows, holds Raman shifts. The values tell which: no sensor of that class
// sees beyond 1100 nm, while Raman shifts over its pixels span thousands of
// cm-1.
constexpr float kLongestSensorWavelengthNm = 1200.0f;

bool HoldsWavelengths(const std::vector<float>& axis) {
    bool any = false;
    for (float x : axis) {
        if (x == 0.0f) continue;
        if (!(x < kLongestSensorWavelengthNm)) return false;
        any = true;
    }
    return any;
}

} // namespace

bool LibraryHoldsWavelengths(std::uint16_t modelCode, const std::vector<float>& axis) {
    return IsSmallSensorModelCode(modelCode) && HoldsWavelengths(axis);
}

void ShiftSpectrumFromRaw(const RawFileRecord& record, ShiftSpectrum& out) {
    out.header = record.header;
    out.shift.clear();
    out.intensity.clear();
    float laser = record.laserWavelength > 0.0f && std::isfinite(record.laserWavelength) ? record.laserWavelength
                                                                                         : kDefaultLaserNm;
    // The same float arithmetic as the chart, so identification sees the
    // shifts the user sees.
    float k = static_cast<float>(1e7 / static_cast<double>(laser));
    std::int32_t pixels = RawFilePixelCount(record.frameLength);
    std::int32_t first = std::max(0, record.windowStart);
    std::int32_t end = std::min(pixels, record.windowEnd);
    for (std::int32_t i = first; i < end; ++i) {
        out.shift.push_back(static_cast<double>(k - record.wavenumbers[static_cast<std::size_t>(i)]));
        out.intensity.push_back(record.intensities[static_cast<std::size_t>(i)]);
    }
}

ShiftRead ReadShiftSpectrum(std::string_view bytes, ShiftSpectrum& out, SpectrumKind* kind) {
    if (bytes.size() == kPcLibrarySize || bytes.size() == kDeviceRecordSize) {
        LibraryView view = bytes.size() == kPcLibrarySize ? LibraryView::Pc : LibraryView::Device;
        std::size_t points = LibraryPoints(view);
        std::vector<float> intensity(points), axis(points);
        if (DecodeLibraryCurve(bytes, view, out.header, intensity.data(), axis.data()) != CurveRead::Ok)
            return ShiftRead::UnknownFormat;
        if (kind) *kind = view == LibraryView::Pc ? SpectrumKind::PcLibrary : SpectrumKind::DeviceRecord;
        if (LibraryHoldsWavelengths(out.header.modelCode(), axis)) return ShiftRead::WavelengthAxis;
        out.shift.clear();
        out.intensity.clear();
        const auto* b = reinterpret_cast<const std::uint8_t*>(bytes.data());
        for (std::size_t i = 0; i < points; ++i) {
            // The library reader rounds a device record's tenths down to whole
            // cm-1 for the grid; the search keeps the tenths.
            double x = view == LibraryView::Device ? GetU16(b + kDeviceAxisOffset + 2 * i) / 10.0
                                                   : static_cast<double>(axis[i]);
            if (x == 0.0) continue;
            out.shift.push_back(x);
            out.intensity.push_back(intensity[i]);
        }
        return ShiftRead::Ok;
    }
    auto record = std::make_unique<RawFileRecord>();
    RawFileCheck check = DecodeRawSpectrumFile(bytes, *record);
    if (check == RawFileCheck::UnknownFormat) return ShiftRead::UnknownFormat;
    if (check != RawFileCheck::Ok) return ShiftRead::Damaged;
    if (kind) *kind = SpectrumKind::Raw;
    ShiftSpectrumFromRaw(*record, out);
    return ShiftRead::Ok;
}

} // namespace veltrane
