// The identification records: ApplyDeviceRecords over an arbitrary 44-byte
// sensor record and 80-byte device record, then the spectral axis of what it
// set (RefreshSpectralAxis), for a device the identification accepts.

#include <algorithm>
#include <cstring>
#include <memory>

#include "app/program_state.h"
#include "device/device_connection.h"
#include "fuzz_support.h"
#include "measure/spectral_axis.h"
#include "platform/byte_order.h"

using namespace veltrane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::InputReader in(data, size);
    std::array<std::uint8_t, wire::kSensorRecordSize> sensor{};
    std::array<std::uint8_t, wire::kDeviceRecordSize> device{};
    in.fill(sensor.data(), sensor.size());
    in.fill(device.data(), device.size());

    static auto state = std::make_unique<ProgramState>();
    ApplyStartupValues(*state);
    state->device.brandVariant = in.flag() ? BrandVariant::Korvel : BrandVariant::Brenmor;
    state->device.waveCalValid = in.flag();
    for (float& c : state->device.waveCal) {
        std::uint32_t bits = in.u32();
        std::memcpy(&c, &bits, sizeof c);
    }
    const std::uint16_t displayLow = state->device.displayLow;
    const std::uint16_t displayHigh = state->device.displayHigh;

    ApplyDeviceRecords(state->device, sensor, device);

    // Whatever the records say: the serial is the text up to the first zero
    // of its 20 bytes, and the model one of the names the program knows.
    const std::uint8_t* serial = device.data() + wire::kDeviceOffOpticsSerial;
    FUZZ_CHECK(state->device.opticsSerial.size() <= wire::kOpticsSerialSize);
    FUZZ_CHECK(std::memcmp(state->device.opticsSerial.data(), serial, state->device.opticsSerial.size()) == 0);
    FUZZ_CHECK(state->device.opticsSerial.size() == wire::kOpticsSerialSize ||
               serial[state->device.opticsSerial.size()] == 0);
    const std::uint8_t type = device[wire::kDeviceOffType];
    FUZZ_CHECK(state->device.modelName == ModelName(type, state->device.brandVariant));
    FUZZ_CHECK(state->device.deviceSerial == GetU32(device.data() + wire::kDeviceOffSerial));

    if (!state->device.waveCalValid) {
        FUZZ_CHECK(state->device.displayLow == 1 && state->device.displayHigh == state->device.pixelCount);
    } else if (type != 179 && type != 180) {
        FUZZ_CHECK(state->device.displayLow == displayLow && state->device.displayHigh == displayHigh);
    }

    const std::uint16_t total = GetU16(sensor.data() + wire::kSensorOffTotal);
    const std::uint16_t first = GetU16(sensor.data() + wire::kSensorOffFirst);
    const std::uint16_t last = GetU16(sensor.data() + wire::kSensorOffLast);
    if (IsSmallSensorType(type)) {
        FUZZ_CHECK(state->device.deviceType == 1 && state->device.pixelCount == 256 && state->device.pixelTotal == 256);
    } else if (SensorGeometryUsable(total, first, last)) {
        // A geometry the identification accepts fits the buffers.
        FUZZ_CHECK(state->device.deviceType == type);
        FUZZ_CHECK(state->device.pixelCount >= 1 && state->device.pixelCount <= kMaxPixels);
        FUZZ_CHECK(state->device.pixelTotal <= kMaxFrameLength);
        FUZZ_CHECK(std::size_t{state->device.pixelFirst} + state->device.pixelCount <= state->device.pixelTotal);
    } else {
        return 0; // refused: identification stops before these records are used
    }

    static std::array<float, kMaxPixels> before;
    before = state->measurement.spectrum.axis;
    const bool ramanTitle = RefreshSpectralAxis(state->measurement.spectrum, state->device);
    FUZZ_CHECK(ramanTitle == state->device.waveCalValid);
    const std::size_t count = std::min<std::size_t>(state->device.pixelCount, kMaxPixels);
    const SpectrumStore& s = state->measurement.spectrum;
    // A sensor the program cannot measure with keeps its axis and window.
    const bool measurable =
        state->device.deviceType == 1 || state->device.deviceType == 179 || state->device.deviceType == 180;
    if (measurable) FUZZ_CHECK(s.windowFirst <= count && s.windowEnd <= count);
    // Past the sensor's pixels the axis keeps what it held.
    FUZZ_CHECK(std::equal(before.begin() + static_cast<std::ptrdiff_t>(count), before.end(),
                          s.axis.begin() + static_cast<std::ptrdiff_t>(count),
                          [](float a, float b) { return fuzz::SameBits(a, b); }));
    return 0;
}
