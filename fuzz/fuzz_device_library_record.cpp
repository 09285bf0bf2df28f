// The device library record reader (DecodeLibraryCurve with the device
// layout): 1250 16-bit intensities and 1250 Raman shifts in tenths.

#include <array>

#include "fuzz_support.h"
#include "library/library_file.h"
#include "platform/byte_order.h"

using namespace veltrane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    static std::array<float, kDeviceRecordPoints + 1> intensity;
    static std::array<float, kDeviceRecordPoints + 1> axis;
    constexpr float kGuard = -12345.0f;
    intensity[kDeviceRecordPoints] = kGuard;
    axis[kDeviceRecordPoints] = kGuard;
    SpectrumHeader header;
    header.bytes.fill(0xA5);
    const SpectrumHeader untouched = header;

    CurveRead read = DecodeLibraryCurve(bytes, LibraryView::Device, header, intensity.data(), axis.data());
    FUZZ_CHECK(intensity[kDeviceRecordPoints] == kGuard && axis[kDeviceRecordPoints] == kGuard);
    if (read != CurveRead::Ok) {
        FUZZ_CHECK(read == CurveRead::TooShort && size < kDeviceRecordSize);
        FUZZ_CHECK(header.bytes == untouched.bytes);
        return 0;
    }
    FUZZ_CHECK(size >= kDeviceRecordSize);
    FUZZ_CHECK(std::equal(header.bytes.begin(), header.bytes.end(), data));
    FUZZ_CHECK(header.name().size() <= kNameFieldSize);
    FUZZ_CHECK(header.name().find('\0') == std::string::npos);

    // Whole values as stored; shifts in whole wavenumbers, tenths dropped.
    for (std::size_t k = 0; k < kDeviceRecordPoints; ++k) {
        std::uint16_t stored = GetU16(data + kDeviceIntensityOffset + 2 * k);
        std::uint16_t tenths = GetU16(data + kDeviceAxisOffset + 2 * k);
        FUZZ_CHECK(intensity[k] == static_cast<float>(stored));
        FUZZ_CHECK(axis[k] >= 0.0f && axis[k] <= 6553.0f);
        FUZZ_CHECK(static_cast<unsigned>(axis[k]) * 10u <= tenths && tenths < static_cast<unsigned>(axis[k]) * 10u + 10u);
    }
    return 0;
}
