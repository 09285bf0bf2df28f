// The calibration bytes: ReadCalibration of a "/SYS1/CALWAV.CFG" holding the
// input (of any length, or missing) from the virtual instrument, then the
// spectral axis computed from the coefficients read (ComputeSpectralAxis)
// for each kind of sensor, pixel count and display range.

#include <algorithm>
#include <cstring>
#include <memory>

#include "app/program_state.h"
#include "device/device_connection.h"
#include "device/device_file_access.h"
#include "fuzz_support.h"
#include "instrument_rig.h"
#include "measure/spectral_axis.h"
#include "platform/byte_order.h"
#include "sim/simulated_bridge.h"
#include "sim/virtual_instrument.h"

using namespace veltrane;

namespace {

using Rig = fuzz::InstrumentRig;

constexpr std::uint8_t kTypes[] = {179, 180, 1, 0};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Rig rig;
    fuzz::InputReader in(data, size);
    const std::uint8_t flags = in.byte();
    const bool present = (flags & 1) == 0;
    ProgramState& state = *rig.state;
    state.device.deviceType = kTypes[(flags >> 1) & 3];
    state.device.pixelCount = in.u16();
    state.device.displayLow = in.u16();
    state.device.displayHigh = in.u16();
    const float laser = [&] {
        std::uint32_t bits = in.u32();
        float value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }();
    std::string_view file = in.rest();

    if (present)
        rig.instrument->setFile(wire::kCalibrationPath, std::vector<std::uint8_t>(file.begin(), file.end()));
    else
        rig.instrument->removeFile(wire::kCalibrationPath);
    state.device.waveCal.fill(-1.0f);

    FileAccessResult result = ReadCalibration(*rig.link, rig.clock, state.device);
    FUZZ_CHECK(rig.instrument->violations().empty());
    if (present && file.size() >= 8) {
        // Whole values up to the sixth, zeros after; never a byte beyond 24.
        FUZZ_CHECK(result == FileAccessResult::Success && state.device.waveCalValid);
        const std::size_t values = std::min<std::size_t>(file.size(), 24) / 4;
        for (std::size_t i = 0; i < state.device.waveCal.size(); ++i) {
            float expected = 0.0f;
            if (i < values) expected = GetF32(reinterpret_cast<const std::uint8_t*>(file.data()) + 4 * i);
            FUZZ_CHECK(fuzz::SameBits(state.device.waveCal[i], expected));
        }
    } else {
        // Missing, empty, or too short to hold a slope: no calibration.
        FUZZ_CHECK(result == (present && !file.empty() ? FileAccessResult::Success : FileAccessResult::FileNotExist));
        FUZZ_CHECK(!state.device.waveCalValid);
        FUZZ_CHECK(std::equal(state.device.waveCal.begin(), state.device.waveCal.end(), std::begin(kDefaultWaveCal)));
    }

    static std::array<float, kMaxPixels> before;
    before = state.measurement.spectrum.axis;
    ComputeSpectralAxis(state.measurement.spectrum, state.device, laser);
    const std::size_t count = std::min<std::size_t>(state.device.pixelCount, kMaxPixels);
    const SpectrumStore& s = state.measurement.spectrum;
    // A sensor the program cannot measure with keeps its axis and window.
    const bool measurable =
        state.device.deviceType == 1 || state.device.deviceType == 179 || state.device.deviceType == 180;
    if (measurable) FUZZ_CHECK(s.windowFirst <= count && s.windowEnd <= count);
    FUZZ_CHECK(std::equal(before.begin() + static_cast<std::ptrdiff_t>(count), before.end(),
                          s.axis.begin() + static_cast<std::ptrdiff_t>(count),
                          [](float a, float b) { return fuzz::SameBits(a, b); }));
    return 0;
}
