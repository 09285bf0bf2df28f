#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>

#include "measure/raw_spectrum_file.h"
#include "measure/sample_info.h"
#include "measure/spectrum_store.h"

namespace veltrane {

// One measurement at a time: its parameters, its progress, the spectrum
// buffers and the raw file shown last. The worker writes the buffers and the
// progress; its final measureState store (release) hands them over to the
// timer, which loads measureState (acquire) before it reads them.
struct MeasurementSession {
    std::atomic<std::uint8_t> measureState{0};
    std::atomic<std::uint8_t> measureStatus{0};
    // The last measurement could not get the laser confirmed off while the
    // instrument was still attached. Written by the worker before its final
    // measureState, read and cleared by the timer.
    std::atomic<bool> laserOffFailed{false};
    // A measurement worker has been started and has not returned yet. Raised
    // before the worker starts and lowered once it has returned; a device
    // loss resets measureState but not this, because the old worker still
    // writes the spectrum buffers until it ends.
    std::atomic<bool> measureWorkerRunning{false};
    MeasureParams measureParams;
    ExposureMode exposureMode;
    // The last measurement was stopped by the user: the worker put the
    // buffers back as they were before it, and nothing of it is shown.
    // Written by the worker before its final measureState.
    std::atomic<bool> measureStopped{false};
    MeasureProgress progress;
    SpectrumStore spectrum;
    RawFileRecord rawFile;
    // Belongs to the spectrum shown: typed for a capture, or read from the
    // sidecar of an opened raw file.
    SampleInfo sample;
    // How the spectrum shown was measured: taken when a capture ends (a
    // later capture that is stopped or refused leaves it), read from the
    // sidecar of an opened raw file or from another program's file.
    CaptureSettings shownCapture;
    // When the shown capture ended, in seconds since 1970 (UTC); 0 while the
    // spectrum shown is no capture of this session.
    std::int64_t capturedAt = 0;
};

// Whether the spectrum buffers belong to a measurement: while they do, every
// action that reads or writes them, and the switch to the Linker mode, waits.
inline bool MeasurementBusy(const MeasurementSession& session) {
    return session.measureState.load(std::memory_order_acquire) != 0 ||
           session.measureWorkerRunning.load(std::memory_order_acquire);
}

} // namespace veltrane
