#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "app/connection_check.h"
#include "app/program_state.h"
#include "device/device_link.h"
#include "measure/measurement.h"
#include "measure/raw_spectrum_file.h"
#include "measure/spectral_axis.h"
#include "platform/clock.h"
#include "sim/simulated_bridge.h"
#include "sim/virtual_instrument.h"

namespace veltrane::test {

// One measurement of a sample with the virtual instrument on a virtual
// clock, through the worker the window uses; the state then shows it.
// `axisError` makes the instrument's axis read that many cm-1 high.
inline std::unique_ptr<ProgramState> MeasureSample(const SimModel& model, SimSample sample, std::uint32_t exposureMs,
                                                   std::uint64_t seed, double axisError = 0.0) {
    VirtualClock clock(1000);
    SimulatedBridge bridge;
    auto instrument = std::make_shared<VirtualInstrument>(clock, model, sample, seed);
    instrument->setAxisError(axisError);
    bridge.attach(instrument);
    DeviceLink link(bridge);
    auto state = std::make_unique<ProgramState>();
    ApplyStartupValues(*state);
    CheckConnection(link, clock, *state);
    RefreshSpectralAxis(state->measurement.spectrum, state->device);
    state->device.pixelCount = static_cast<std::uint16_t>(state->device.pixelLast - state->device.pixelFirst + 1);
    state->measurement.measureParams = {exposureMs, 1, 1000, 100, true};
    AcquisitionContext ctx{link, clock, state->measurement, state->device, nullptr};
    RunMeasurement(ctx);
    EXPECT_EQ(state->measurement.measureStatus.load(), 1);
    return state;
}

} // namespace veltrane::test
