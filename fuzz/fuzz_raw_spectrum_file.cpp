// The raw spectrum file reader (DecodeRawSpectrumFile) and the display of an
// accepted file (ApplyRawSpectrum). Raw files come from anywhere a user keeps
// them, so every byte is outside data.

#include <cstring>
#include <vector>

#include "app/program_state.h"
#include "fuzz_support.h"
#include "measure/raw_spectrum_file.h"

using namespace veltrane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    static RawFileRecord record;
    static RawFileRecord before;
    before = record;
    RawFileCheck check = DecodeRawSpectrumFile(bytes, record);
    if (check != RawFileCheck::Ok) {
        // A refused file must leave the last one read as it was.
        FUZZ_CHECK(std::memcmp(&before.header, &record.header, sizeof record.header) == 0);
        FUZZ_CHECK(before.frameLength == record.frameLength && before.windowStart == record.windowStart &&
                   before.windowEnd == record.windowEnd);
        return 0;
    }

    const std::int32_t n = record.frameLength;
    const std::uint16_t pixels = RawFilePixelCount(n);
    FUZZ_CHECK(pixels != 0 && n > 0 && static_cast<std::size_t>(n) <= kMaxRawFrame);
    FUZZ_CHECK(size >= RawFileSize(n));
    FUZZ_CHECK(record.windowStart >= 0 && record.windowStart <= pixels);
    FUZZ_CHECK(record.windowEnd >= 0 && record.windowEnd <= pixels);

    // What was accepted is the file: written again it gives the same bytes.
    std::vector<float> intensities(record.intensities.begin(), record.intensities.begin() + n);
    std::vector<float> wavenumbers(record.wavenumbers.begin(), record.wavenumbers.begin() + n);
    std::string again = EncodeRawSpectrumFile(record.header, intensities, wavenumbers, record.laserWavelength,
                                              record.laserPixel, record.windowStart, record.windowEnd);
    FUZZ_CHECK(again == bytes.substr(0, RawFileSize(n)));

    static ProgramState state;
    ApplyRawSpectrum(record, state.measurement, state.device);
    FUZZ_CHECK(state.device.pixelCount == pixels && state.device.pixelCount <= kMaxPixels);
    FUZZ_CHECK(state.measurement.spectrum.haveFileData && !state.measurement.spectrum.haveMeasured);
    for (std::size_t i = 0; i < kMaxPixels; ++i) {
        if (i < pixels)
            FUZZ_CHECK(fuzz::SameBits(state.measurement.spectrum.signal[i], record.intensities[i]));
        else
            FUZZ_CHECK(state.measurement.spectrum.signal[i] == 0.0f && state.measurement.spectrum.axis[i] == 0.0f);
    }
    return 0;
}
