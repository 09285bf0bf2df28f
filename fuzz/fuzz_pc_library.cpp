// The PC library reader (DecodeLibraryCurve with the PC layout) and the
// conversion an export makes of an accepted PC library into a device record
// (ConvertPcLibraryToRecord).

#include <array>
#include <cmath>

#include "fuzz_support.h"
#include "library/library_file.h"
#include "platform/byte_order.h"
#include "transfer/transfer.h"

using namespace veltrane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    // One spare value past each curve: the reader must stop at 2500.
    static std::array<float, kPcLibraryPoints + 1> intensity;
    static std::array<float, kPcLibraryPoints + 1> axis;
    constexpr float kGuard = -12345.0f;
    intensity[kPcLibraryPoints] = kGuard;
    axis[kPcLibraryPoints] = kGuard;
    SpectrumHeader header;

    CurveRead read = DecodeLibraryCurve(bytes, LibraryView::Pc, header, intensity.data(), axis.data());
    FUZZ_CHECK(intensity[kPcLibraryPoints] == kGuard && axis[kPcLibraryPoints] == kGuard);
    std::string record = ConvertPcLibraryToRecord(bytes);
    if (read != CurveRead::Ok) {
        FUZZ_CHECK(read == CurveRead::TooShort && size < kPcLibrarySize);
        FUZZ_CHECK(record.empty());
        return 0;
    }
    FUZZ_CHECK(size >= kPcLibrarySize);

    // Re-encoded, an accepted library is its own first 20120 bytes.
    std::string again = EncodePcLibraryFile(header, intensity.data(), axis.data());
    FUZZ_CHECK(again == bytes.substr(0, kPcLibrarySize));

    // The record an export sends: the same header, and each stored value the
    // mean of its two neighbours (tenths for the axis) in 16 bits.
    FUZZ_CHECK(record.size() == kDeviceRecordSize);
    FUZZ_CHECK(record.compare(0, kHeaderSize, bytes.substr(0, kHeaderSize)) == 0);
    const auto* r = reinterpret_cast<const std::uint8_t*>(record.data());
    for (std::size_t p = 0; p < 2 * kDeviceRecordPoints; ++p) {
        const float* source = p < kDeviceRecordPoints ? intensity.data() : axis.data();
        std::size_t k = 2 * (p % kDeviceRecordPoints);
        double mean = (static_cast<double>(source[k]) + static_cast<double>(source[k + 1])) * 0.5;
        std::uint16_t stored = GetU16(r + kHeaderSize + 2 * p);
        if (!(mean >= 0.0) || !std::isfinite(mean)) {
            FUZZ_CHECK(stored == 0);
        } else if (mean < 65536.0) {
            std::uint16_t whole = static_cast<std::uint16_t>(mean);
            FUZZ_CHECK(stored == (p < kDeviceRecordPoints ? whole : static_cast<std::uint16_t>(10u * whole)));
        }
    }

    // The converted record reads back as a device record with that header.
    static std::array<float, kDeviceRecordPoints> recordIntensity;
    static std::array<float, kDeviceRecordPoints> recordAxis;
    SpectrumHeader recordHeader;
    FUZZ_CHECK(DecodeLibraryCurve(record, LibraryView::Device, recordHeader, recordIntensity.data(),
                                  recordAxis.data()) == CurveRead::Ok);
    FUZZ_CHECK(recordHeader.bytes == header.bytes);
    return 0;
}
