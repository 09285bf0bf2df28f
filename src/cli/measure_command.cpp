#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <thread>

#include "app/connection_check.h"
#include "cli/commands.h"
#include "cli/input.h"
#include "cli/output.h"
#include "device/device_connection.h"
#include "device/device_link.h"
#include "measure/auto_exposure.h"
#include "measure/measurement.h"
#include "measure/sample_sidecar.h"
#include "measure/saturation.h"
#include "measure/spectral_axis.h"
#include "platform/clock.h"
#include "platform/ini_file.h"
#include "platform/null_bridge.h"
#include "platform/paths.h"
#ifdef VELTRANE_WITH_LIBUSB
#include "platform/libusb_backend.h"
#include "platform/libusb_bridge.h"
#endif
#include "sim/sim_model.h"
#include "sim/simulated_bridge.h"
#include "sim/virtual_instrument.h"

namespace veltrane {

namespace {

constexpr const char* kMeasureFailed = "Measure failed!";
constexpr const char* kMeasureStopped = "Measure stopped; laser off.";

struct MeasureValues {
    const CLI::Option* simulator = nullptr;
    std::string model, exposure = "3000", average = "1", preheat = "20000", output, csv;
    std::uint32_t speed = 1;
    double axisError = 0.0;
    std::string sample = "polystyrene";
    const CLI::Option* seedOption = nullptr;
    std::uint64_t seed = 0;
    bool autoExposure = false;
    double target = kDefaultExposureTarget;
    SampleInfo about; // what is measured, by whom: the raw file's sidecar
};

// Everything behind the USB bridge: the virtual instrument, or no device
// while the program has no USB layer.
struct Instrument {
    std::unique_ptr<Clock> clock;
    std::unique_ptr<UsbBridge> bridge;
};

int RunMeasure(const MeasureValues& v, const CliStreams& io) {
    // The raw file is saved whole or not at all; only the CSV may go to
    // standard output.
    if (IsStandardOutput(v.output)) throw UsageError("The raw spectrum is saved to a file: give -o FILE.");
    if (!OutputAllowed(v.output, {}, io) || !OutputAllowed(v.csv, {v.output}, io)) return kExitFailure;
    const bool simulated = v.simulator->count() > 0;
    std::optional<SimModel> model = SimModelByName(v.model.empty() ? "2500" : v.model);
    if (simulated && !model) throw UsageError("Unknown model " + v.model + ".");
    std::uint32_t speed = simulated ? v.speed : 1;

    Instrument instrument;
    if (speed > 1)
        instrument.clock = std::make_unique<PacedClock>(speed);
    else
        instrument.clock = std::make_unique<SteadyClock>();
    Clock& clock = *instrument.clock;
    if (simulated) {
        auto bridge = std::make_unique<SimulatedBridge>();
        std::optional<SimSample> sample = SimSampleByName(v.sample);
        if (!sample) throw UsageError("Unknown sample " + v.sample + ".");
        // Fresh noise on every run, as a real instrument gives, unless a
        // seed asks for the same capture again.
        std::optional<std::uint64_t> seed;
        if (v.seedOption->count() > 0) seed = v.seed;
        auto virtualInstrument = std::make_shared<VirtualInstrument>(clock, *model, *sample, seed);
        virtualInstrument->setAxisError(v.axisError);
        if (io.simulatorMade) io.simulatorMade(virtualInstrument);
        bridge->attach(virtualInstrument);
        instrument.bridge = std::move(bridge);
    } else {
#ifdef VELTRANE_WITH_LIBUSB
        // The same bridge IDs as the application: its settings file lies
        // beside both programs, or under XDG for an installed copy.
        std::filesystem::path exe = ExecutablePath();
        AppPaths paths = ResolveAppPaths((exe.parent_path() / "veltrane").string());
        instrument.bridge =
            std::make_unique<LibusbBridge>(MakeLibusbBackend(), ReadUsbDeviceIds(IniFile(paths.settingsFile)));
#else
        instrument.bridge = std::make_unique<NullBridge>();
#endif
    }
    DeviceLink link(*instrument.bridge);
    auto state = std::make_unique<ProgramState>();
    ApplyStartupValues(*state);

    // Identification as the connection timer does it.
    CheckResult check = CheckConnection(link, clock, *state);
    if (check.newlyIdentified) {
        RefreshSpectralAxis(state->measurement.spectrum, state->device);
        if (check.showCalibrationMissing) io.err << kCalibrationMissingMessage << "\n";
    }
    if (check.showDeviceRefused) io.err << kDeviceRefusedMessage << "\n";
    if (link.takeAccessDeniedNotice()) io.err << kBridgeAccessDeniedMessage << "\n";

    CaptureInputs inputs{v.exposure, v.average, v.preheat, "100", true};
    CaptureCheck capture = CheckCapture(inputs, state->measurement, state->device, false);
    if (capture.conversionError) {
        io.err << *capture.conversionError << "\n";
        return kExitFailure;
    }
    if (capture.code != CaptureCode::Start) {
        io.err << CaptureMessage(capture.code) << "\n";
        return kExitFailure;
    }

    state->device.pixelCount = state->device.deviceType == 1
                                   ? 256
                                   : static_cast<std::uint16_t>(state->device.pixelLast - state->device.pixelFirst + 1);
    state->measurement.exposureMode = {v.autoExposure, v.target};
    state->measurement.measureState.store(1, std::memory_order_release);
    state->measurement.measureStatus.store(2, std::memory_order_relaxed);
    AcquisitionContext ctx{link, clock, state->measurement, state->device, io.stop};
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        RunMeasurement(ctx);
        returned.store(true, std::memory_order_release);
    });
    int shown = -1;
    while (!returned.load(std::memory_order_acquire)) {
        int percent = MeasureProgressPercent(state->measurement, clock.tickCount());
        if (percent != shown) {
            io.err << "progress: " << percent << "%\n" << std::flush;
            shown = percent;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    worker.join();
    state->measurement.measureState.store(0, std::memory_order_release);
    if (ctx.stopRequested()) {
        io.err << kMeasureStopped << "\n";
        return kExitStopped;
    }
    if (state->measurement.measureStatus.load(std::memory_order_relaxed) != 1) {
        io.err << kMeasureFailed << "\n";
        return kExitFailure;
    }
    if (shown != 100) io.err << "progress: 100%\n";
    if (v.autoExposure)
        io.err << "exposure: " << state->measurement.progress.chosenExposureMs.load(std::memory_order_relaxed)
               << " ms\n";
    // A clipped spectrum is saved all the same, with the warning.
    if (std::size_t clipped = SaturatedPixelCount(state->measurement.spectrum, state->device.pixelCount))
        io.err << SaturationWarning(clipped) << "\n";

    if (const char* refusal = SaveRawRefusal(state->measurement, state->device)) {
        io.err << refusal << "\n";
        return kExitFailure;
    }
    const std::string& path = v.output;
    std::string fileName = std::filesystem::path(path).filename().string();
    RawFileRecord saved = state->measurement.rawFile;
    std::string bytes =
        BuildRawSpectrumFile(state->measurement, state->device, fileName, CurrentLocalDateTime(), saved);
    if (!Save(path, bytes, io)) return kExitFailure;
    if (!WriteSampleSidecar(path, {v.about, CaptureSettingsOf(state->measurement, state->device)})) {
        io.err << Shown(SampleSidecarPath(path)) << ": " << kSidecarSaveFailed << "\n";
        return kExitFailure;
    }
    if (v.csv.empty()) return kExitOk;
    // The CSV is the saved file exported, so the two can never disagree.
    auto file = std::make_unique<SpectrumFile>();
    if (DecodeRawSpectrumFile(bytes, file->raw) != RawFileCheck::Ok) {
        io.err << Shown(path) << ": " << kUnknownRawFormat << "\n";
        return kExitFailure;
    }
    file->header = file->raw.header;
    return Emit(CsvText(DrawnPoints(*file)), v.csv, io);
}

} // namespace

Command DefineMeasure(CLI::App& tool) {
    auto v = std::make_shared<MeasureValues>();
    CLI::App* app = AddCommand(tool, "measure", "one measurement, saved as a raw spectrum", R"(
Runs one measurement (dark, laser on, preheat, signal, laser off) and saves it as a
raw spectrum. Defaults: exposure 3000 ms, average 1, preheat 20000 ms, laser power 100.
--simulator attaches the virtual instrument (MODEL 2500, 2048, 256 or unknown; 2500
when not given); --sim-speed X runs it and the measurement X times faster than real
time; --axis-error CM makes its Raman-shift axis read CM high (for check-axis);
--sample NAME puts polystyrene, cyclohexane, paracetamol, ethanol or empty (nothing)
in its holder; its noise differs on every run unless --seed N is given.
--auto-exposure chooses the exposure with short trial frames after the preheat, so
that the strongest pixel reaches --target of full scale (0.7); the time chosen goes
to standard error. A spectrum with pixels at full scale is saved with the warning
"Saturated: N pixels — reduce Int.time" on standard error.
--sample-name, --operator and --notes are saved beside the raw file in OUT.rsd.json;
the raw file's own bytes are the same without them.
Progress goes to standard error; Ctrl-C switches the laser off and ends.)");
    CLI::Option* simulator =
        app->add_flag("--simulator{2500}", v->model, "attach the virtual instrument, of model MODEL")
            ->type_name("MODEL");
    v->simulator = simulator;
    app->add_option("--sim-speed", v->speed, "run the virtual instrument X times faster than real time")
        ->type_name("X")
        ->needs(simulator)
        ->check(WholeIn(1, UINT32_MAX, "The speed is a whole number of at least 1."));
    app->add_option("--axis-error", v->axisError, "make the virtual instrument's Raman-shift axis read CM high")
        ->type_name("CM")
        ->needs(simulator)
        ->check(NumberIn(-100.0, false, 100.0, false, "The axis error is a number of cm-1 from -100 to 100."));
    app->add_option("--sample", v->sample, "what the virtual instrument measures (polystyrene)")
        ->type_name("NAME")
        ->needs(simulator);
    v->seedOption = app->add_option("--seed", v->seed, "the virtual instrument's noise seed, for repeatable captures")
                        ->type_name("N")
                        ->needs(simulator);
    app->add_flag("--auto-exposure", v->autoExposure, "choose the exposure time with trial frames");
    app->add_option("--target", v->target, "the fraction of full scale the automatic exposure aims at (0.7)")
        ->type_name("F")
        ->check(NumberIn(0.05, false, 0.95, false, "The target is a fraction of full scale from 0.05 to 0.95."));
    // Exposure, average and preheat are checked as the Capture dialog checks
    // its boxes, with its messages.
    app->add_option("--exposure", v->exposure, "exposure time in ms (3000)")->type_name("MS");
    app->add_option("--average", v->average, "number of frames averaged (1)")->type_name("N");
    app->add_option("--preheat", v->preheat, "laser preheat in ms (20000)")->type_name("MS");
    // --sample names what the virtual instrument holds, so the name of the
    // sample measured is --sample-name.
    app->add_option("--sample-name", v->about.sampleName, "the name of the sample measured")->type_name("NAME");
    app->add_option("--operator", v->about.operatorName, "who measured")->type_name("NAME");
    app->add_option("--notes", v->about.notes, "notes on the sample or the measurement")->type_name("TEXT");
    AddOutputOption(*app, v->output, "the raw spectrum file")->type_name("OUT.rsd")->required();
    app->add_option("--csv", v->csv, "also the export's CSV of it; - for standard output")
        ->type_name("OUT.csv")
        ->check(NotEmpty("The CSV file name is empty."));
    return DefineCommand(app, v, RunMeasure);
}

} // namespace veltrane
