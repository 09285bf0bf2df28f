#include <gtest/gtest.h>

#include "app/connection_check.h"
#include "app/program_state.h"
#include "device/device_connection.h"
#include "platform/byte_order.h"
#include "support/sim_rig.h"

namespace veltrane {
namespace {

using test::SimRig;

class Connection : public ::testing::Test {
protected:
    std::unique_ptr<SimRig> rig;
    std::unique_ptr<ProgramState> state = std::make_unique<ProgramState>();

    void SetUp() override { ApplyStartupValues(*state); }
    void attach(SimModel model) { rig = std::make_unique<SimRig>(std::move(model)); }
    CheckResult check() { return CheckConnection(rig->link, rig->clock, *state); }
};

TEST_F(Connection, LargeSensorWithCalibrationIsIdentifiedForEachBrand) {
    for (BrandVariant brand : {BrandVariant::Korvel, BrandVariant::Brenmor}) {
        attach(SimModelLarge2500());
        state = std::make_unique<ProgramState>();
        ApplyStartupValues(*state);
        state->device.brandVariant = brand;
        CheckResult r = check();
        EXPECT_TRUE(r.newlyIdentified);
        EXPECT_FALSE(r.showCalibrationMissing);
        EXPECT_EQ(state->device.deviceState, DeviceConnection::Connected);
        EXPECT_EQ(state->device.modelName, brand == BrandVariant::Korvel ? "QX810A" : "TL100");
        EXPECT_EQ(state->device.deviceType, 179);
        EXPECT_EQ(state->device.displayLow, 400);
        EXPECT_EQ(state->device.displayHigh, 4000);
        EXPECT_EQ(state->device.pixelTotal, 2546);
        EXPECT_EQ(state->device.pixelCount, 2500);
        EXPECT_EQ(state->device.pixelFirst, rig->instrument->model().firstPixel);
        EXPECT_EQ(state->device.laserWavelength, rig->instrument->model().laserNm);
        EXPECT_TRUE(state->device.waveCalValid);
        EXPECT_EQ(DeviceTreeLines(state->device).children.size(), 4u);
        EXPECT_EQ(DeviceTreeLines(state->device).root, state->device.modelName);
    }
}

TEST_F(Connection, ModelNamesOfBothBrands) {
    EXPECT_EQ(ModelName(180, BrandVariant::Korvel), "QX810B");
    EXPECT_EQ(ModelName(180, BrandVariant::Brenmor), "TL200");
    EXPECT_EQ(ModelName(165, BrandVariant::Brenmor), "Unknow");
    EXPECT_EQ(ModelName(0, BrandVariant::Korvel), "Unknow");
}

TEST_F(Connection, UncalibratedDeviceCountsPixelsAndSaysSo) {
    SimModel model = SimModelLarge2048();
    attach(model);
    rig->instrument->removeFile(wire::kCalibrationPath);
    state->device.brandVariant = BrandVariant::Korvel;
    CheckResult r = check();
    EXPECT_TRUE(r.showCalibrationMissing);
    EXPECT_EQ(state->device.modelName, "QX810B");
    EXPECT_EQ(state->device.displayLow, 1);
    EXPECT_EQ(state->device.displayHigh, 2048);
    EXPECT_EQ(state->device.waveCal, (std::array<float, 6>{1, 1, 0, 0, 0, 0}));
    DeviceTree tree = DeviceTreeLines(state->device);
    ASSERT_EQ(tree.children.size(), 5u);
    EXPECT_EQ(tree.children[0], "Wave cal not exist!");
    EXPECT_EQ(std::string(kCalibrationMissingMessage), "Wave calibration not exist!");
}

TEST_F(Connection, CalibrationWithoutAFiniteMonotonicAxisCountsAsMissing) {
    auto floats = [](std::initializer_list<float> values) {
        std::vector<std::uint8_t> bytes;
        for (float v : values) {
            std::uint8_t b[4];
            PutF32(b, v);
            bytes.insert(bytes.end(), b, b + 4);
        }
        return bytes;
    };
    // Constant; through 0 nm (an infinite shift); turning back at pixel 1000;
    // overflowing to infinity.
    const std::vector<std::vector<std::uint8_t>> files = {floats({600.0f, 0.0f}), floats({-100.0f, 0.1f}),
                                                          floats({500.0f, 0.2f, -1e-4f}), floats({3e38f, 3e38f})};
    for (const auto& file : files) {
        attach(SimModelLarge2048());
        rig->instrument->setFile(wire::kCalibrationPath, file);
        state = std::make_unique<ProgramState>();
        ApplyStartupValues(*state);
        CheckResult r = check();
        EXPECT_TRUE(r.showCalibrationMissing);
        EXPECT_FALSE(state->device.waveCalValid);
        EXPECT_EQ(state->device.waveCal, (std::array<float, 6>{1, 1, 0, 0, 0, 0}));
        EXPECT_EQ(state->device.displayLow, 1);
        EXPECT_EQ(state->device.displayHigh, 2048);
    }
    // A falling axis is an axis all the same.
    attach(SimModelLarge2048());
    rig->instrument->setFile(wire::kCalibrationPath, floats({900.0f, -0.05f}));
    state = std::make_unique<ProgramState>();
    ApplyStartupValues(*state);
    EXPECT_FALSE(check().showCalibrationMissing);
    EXPECT_TRUE(state->device.waveCalValid);
}

TEST_F(Connection, SmallSensorIsStoredAsType1AndKeepsTheDisplayRange) {
    attach(SimModelSmall256());
    state->device.displayLow = 123;
    state->device.displayHigh = 3456;
    state->device.pixelFirst = 7;
    state->device.pixelLast = 9;
    check();
    EXPECT_EQ(state->device.deviceType, 1);
    EXPECT_EQ(state->device.pixelTotal, 256);
    EXPECT_EQ(state->device.pixelCount, 256);
    EXPECT_EQ(state->device.pixelFirst, 7); // left as it was
    EXPECT_EQ(state->device.pixelLast, 9);
    EXPECT_EQ(state->device.modelName, "Unknow");
    EXPECT_EQ(state->device.displayLow, 123);
    EXPECT_EQ(state->device.displayHigh, 3456);
}

TEST_F(Connection, UnknownTypeIsKeptAsReported) {
    attach(SimModelUnknown());
    check();
    EXPECT_EQ(state->device.deviceType, rig->instrument->model().deviceType);
    EXPECT_EQ(state->device.modelName, "Unknow");
    EXPECT_EQ(state->device.deviceState, DeviceConnection::Connected);
}

TEST_F(Connection, TreeLinesShowVersionsAndSerialsExactly) {
    SimModel model = SimModelLarge2500();
    model.hwMajor = 3;
    model.hwMinor = 1;
    model.fwMajor = 65535;
    model.fwMinor = 7;
    model.opticsSerial = "ABCDEFGHIJKLMNOPQRSTUVWXYZ"; // only 20 bytes fit the record
    model.deviceSerial = 4000000000u;
    attach(model);
    check();
    DeviceTree tree = DeviceTreeLines(state->device);
    ASSERT_EQ(tree.children.size(), 4u);
    EXPECT_EQ(tree.children[0], "HW S/N: 3.1");
    EXPECT_EQ(tree.children[1], "FW S/N: 65535.7");
    EXPECT_EQ(tree.children[2], "Opt S/N: ABCDEFGHIJKLMNOPQRST");
    EXPECT_EQ(tree.children[3], "Dev S/N: 4000000000");
}

TEST_F(Connection, ConnectedDeviceIsOnlyCountedAndUnplugResetsTheRunState) {
    attach(SimModelLarge2500());
    check();
    rig->bridge.clearCalls();
    rig->instrument->clearLog();
    CheckResult again = check();
    EXPECT_EQ(again.state, DeviceConnection::Connected);
    EXPECT_FALSE(again.newlyIdentified);
    ASSERT_EQ(rig->bridge.calls().size(), 1u);
    EXPECT_EQ(rig->bridge.calls()[0].op, BridgeCall::Op::Count);

    state->measurement.measureState = 1;
    state->measurement.measureStatus = 2;
    state->library.transferState = 1;
    state->library.lib.transferStatus = 2;
    rig->bridge.unplug();
    CheckResult gone = check();
    EXPECT_EQ(gone.state, DeviceConnection::Disconnected);
    EXPECT_EQ(state->device.deviceState, DeviceConnection::Disconnected);
    EXPECT_FALSE(state->device.deviceIdentified);
    EXPECT_EQ(state->measurement.measureState, 0);
    EXPECT_EQ(state->measurement.measureStatus, 0);
    EXPECT_EQ(state->library.transferState, 0);
    EXPECT_EQ(state->library.lib.transferStatus, 0);

    rig->bridge.replug();
    rig->instrument->clearLog();
    CheckResult back = check();
    EXPECT_TRUE(back.newlyIdentified);
    auto codes = rig->commandCodes();
    ASSERT_GE(codes.size(), 4u);
    EXPECT_EQ(std::vector<std::uint16_t>(codes.begin(), codes.begin() + 4),
              (std::vector<std::uint16_t>{wire::kReadAuxInfoA, wire::kReadAuxInfoB, wire::kReadSensorRecord,
                                          wire::kReadDeviceRecord}));
}

TEST_F(Connection, IdentificationClearsDataFlagsAndMeasureTimeInSpectrumMode) {
    attach(SimModelLarge2500());
    state->measurement.spectrum.haveMeasured = true;
    state->measurement.progress.measureTime = 1234;
    check();
    EXPECT_FALSE(state->measurement.spectrum.haveMeasured);
    EXPECT_EQ(state->measurement.progress.measureTime, 0u);

    rig->bridge.unplug();
    check();
    rig->bridge.replug();
    state->shell.activeMode = ActiveMode::Linker;
    state->measurement.spectrum.haveFileData = true;
    state->measurement.progress.measureTime = 99;
    check();
    EXPECT_FALSE(state->measurement.spectrum.haveFileData);
    EXPECT_EQ(state->measurement.progress.measureTime, 99u);
}

TEST_F(Connection, UnreadableRecordsLeaveTheDeviceUnidentifiedUntilTheNextTick) {
    attach(SimModelLarge2500());
    rig->instrument->setShortReplies(true);
    CheckResult r = check();
    EXPECT_EQ(r.outcome, IdentifyOutcome::RecordsUnreadable);
    EXPECT_FALSE(r.newlyIdentified);
    EXPECT_FALSE(state->device.deviceIdentified);
    EXPECT_EQ(state->device.deviceState, DeviceConnection::Disconnected);
    EXPECT_EQ(state->device.pixelCount, 0);

    rig->instrument->setShortReplies(false);
    r = check();
    EXPECT_TRUE(r.newlyIdentified);
    EXPECT_EQ(state->device.pixelCount, 2500);
}

TEST_F(Connection, SensorGeometryBeyondTheBuffersIsRefusedAndToldOnce) {
    struct Case {
        std::uint16_t total, first, last;
    };
    const Case bad[] = {
        {2700, 0, 2499},   // frame longer than 2600 values
        {2546, 100, 2599}, // first + count beyond the frame
        {2600, 0, 2500},   // 2501 pixels
        {2546, 50, 49},    // no pixels
    };
    for (const Case& c : bad) {
        SimModel model = SimModelLarge2500();
        model.frameLength = c.total;
        model.firstPixel = c.first;
        model.lastPixel = c.last;
        attach(model);
        state = std::make_unique<ProgramState>();
        ApplyStartupValues(*state);
        CheckResult first = check();
        EXPECT_EQ(first.outcome, IdentifyOutcome::Refused);
        EXPECT_TRUE(first.showDeviceRefused);
        EXPECT_FALSE(state->device.deviceIdentified);
        EXPECT_EQ(state->device.pixelCount, 0);
        CheckResult second = check();
        EXPECT_EQ(second.outcome, IdentifyOutcome::Refused);
        EXPECT_FALSE(second.showDeviceRefused);
        rig->bridge.unplug();
        check();
        rig->bridge.replug();
        EXPECT_TRUE(check().showDeviceRefused);
    }
    EXPECT_TRUE(SensorGeometryUsable(2546, 23, 2522));
    EXPECT_TRUE(SensorGeometryUsable(2600, 100, 2599));
    EXPECT_TRUE(SensorGeometryUsable(2068, 10, 2057));
}

TEST_F(Connection, ExchangedDeviceWithoutAnAbsentCheckIsNotIdentifiedAgain) {
    attach(SimModelLarge2500());
    check();
    rig->bridge.unplug();
    rig->bridge.attach(std::make_shared<VirtualInstrument>(rig->clock, SimModelLarge2048(), SimSample::Polystyrene, 7));
    CheckResult r = check();
    EXPECT_EQ(r.outcome, IdentifyOutcome::AlreadyIdentified);
    EXPECT_EQ(state->device.pixelCount, 2500);
}

TEST_F(Connection, RecordsOfEveryPresetMatchWhatTheDeviceReports) {
    for (SimModel model : {SimModelLarge2500(), SimModelLarge2048(), SimModelSmall256(), SimModelUnknown()}) {
        attach(model);
        state = std::make_unique<ProgramState>();
        ApplyStartupValues(*state);
        check();
        EXPECT_EQ(state->device.deviceState, DeviceConnection::Connected) << model.label;
        EXPECT_EQ(state->device.opticsSerial, model.opticsSerial.substr(0, 20)) << model.label;
        EXPECT_EQ(state->device.deviceSerial, model.deviceSerial) << model.label;
        EXPECT_EQ(state->device.hwVersionMajor, model.hwMajor) << model.label;
        EXPECT_EQ(state->device.fwVersionMinor, model.fwMinor) << model.label;
        EXPECT_TRUE(state->device.waveCalValid) << model.label;
        EXPECT_FLOAT_EQ(state->device.waveCal[0], static_cast<float>(model.optics[0])) << model.label;
    }
}

} // namespace
} // namespace veltrane

namespace veltrane {
namespace {

// The device lost at every command of the first check (the four identity
// records, then the calibration read) at every stage of the exchange, and a
// device that stops reporting ready from every command on. Each run ends with
// what the failing step documents; the next checks find the device gone (or
// hung, then power-cycled) and identify it again completely.
TEST(ConnectionFaultSweep, EveryCommandOfIdentificationAndCalibrationRead) {
    std::vector<std::uint16_t> codes;
    {
        test::SimRig clean;
        auto state = std::make_unique<ProgramState>();
        ApplyStartupValues(*state);
        ASSERT_TRUE(CheckConnection(clean.link, clean.clock, *state).newlyIdentified);
        codes = clean.commandCodes();
    }
    const std::uint16_t identity[] = {wire::kReadAuxInfoA, wire::kReadAuxInfoB, wire::kReadSensorRecord,
                                      wire::kReadDeviceRecord};
    ASSERT_TRUE(std::equal(std::begin(identity), std::end(identity), codes.begin()));
    const std::size_t firstChunk = std::find(codes.begin(), codes.end(), wire::kTransferChunk) - codes.begin();
    ASSERT_LT(firstChunk, codes.size());
    auto stepResult = [&](std::size_t i) {
        switch (codes[i]) {
        case wire::kGetControlInfo:
            return FileAccessResult::ControlInfoFailed;
        case wire::kSetFileName:
            return FileAccessResult::SetFileNameFailed;
        case wire::kGetFileInfo:
            return FileAccessResult::FileInfoFailed;
        case wire::kFileRwRequest:
            return FileAccessResult::RwRequestFailed;
        case wire::kTransferChunk:
            return FileAccessResult::ChunkFailed;
        case wire::kCloseFile:
            return FileAccessResult::CloseFailed;
        default:
            return i < firstChunk ? FileAccessResult::RequestTimeout : FileAccessResult::ChunkTimeout;
        }
    };

    std::size_t runs = 0;
    for (std::size_t i = 0; i < codes.size(); ++i) {
        for (int fault = 0; fault < 4; ++fault) { // three loss stages, then never ready
            SCOPED_TRACE(testing::Message()
                         << "command " << i << " (code " << std::hex << codes[i] << std::dec << "), fault " << fault);
            test::SimRig rig;
            auto state = std::make_unique<ProgramState>();
            ApplyStartupValues(*state);
            const bool lost = fault < 3;
            auto index = static_cast<std::uint32_t>(i);
            if (lost)
                rig.instrument->scheduleLoss(index, static_cast<SimLossStage>(fault));
            else
                rig.instrument->scheduleNeverReady(index);

            CheckResult r = CheckConnection(rig.link, rig.clock, *state);
            const std::vector<std::uint16_t> sent = rig.commandCodes();
            if (lost && i < 4) {
                // Not identified: nothing more is sent, the next check tries again.
                EXPECT_EQ(r.outcome, IdentifyOutcome::RecordsUnreadable);
                EXPECT_FALSE(r.newlyIdentified);
                EXPECT_FALSE(state->device.deviceIdentified);
                EXPECT_EQ(state->device.deviceState, DeviceConnection::Disconnected);
                EXPECT_EQ(sent.size(), fault == 0 ? i : i + 1); // a block lost before it arrived is not seen
            } else {
                // Identified; the calibration read ends at the failing step with
                // its code, sends nothing after it and falls back to the defaults.
                FileAccessResult expected = stepResult(i);
                if (!lost) {
                    std::size_t poll = std::find(codes.begin() + index, codes.end(), wire::kPollState) - codes.begin();
                    expected = poll == codes.size() ? FileAccessResult::Success
                               : poll < firstChunk  ? FileAccessResult::RequestTimeout
                                                    : FileAccessResult::ChunkTimeout;
                }
                EXPECT_TRUE(r.newlyIdentified);
                EXPECT_EQ(r.calibration, expected);
                EXPECT_EQ(state->device.deviceState, DeviceConnection::Connected);
                const bool failed = expected != FileAccessResult::Success;
                EXPECT_EQ(r.showCalibrationMissing, failed);
                EXPECT_EQ(state->device.waveCalValid, !failed);
                if (failed) {
                    EXPECT_TRUE(std::equal(state->device.waveCal.begin(), state->device.waveCal.end(),
                                           std::begin(kDefaultWaveCal)));
                    EXPECT_EQ(state->device.displayHigh, state->device.pixelCount);
                    if (!lost) {
                        EXPECT_EQ(sent.back(), wire::kPollState); // no chunk or close after a time-out
                    }
                }
            }
            EXPECT_FALSE(rig.instrument->laserOn());

            // The next ticks: gone (a hung instrument is unplugged), idle; back
            // after the replug, completely identified.
            if (!lost) rig.bridge.unplug();
            state->measurement.measureState = 2;
            state->library.transferState = 2;
            r = CheckConnection(rig.link, rig.clock, *state);
            EXPECT_EQ(state->device.deviceState, DeviceConnection::Disconnected);
            EXPECT_FALSE(state->device.deviceIdentified);
            EXPECT_EQ(state->measurement.measureState, 0);
            EXPECT_EQ(state->library.transferState, 0);
            rig.bridge.replug();
            r = CheckConnection(rig.link, rig.clock, *state);
            EXPECT_TRUE(r.newlyIdentified);
            EXPECT_EQ(r.calibration, FileAccessResult::Success);
            EXPECT_FALSE(r.showCalibrationMissing);
            EXPECT_EQ(state->device.displayLow, 400);
            EXPECT_EQ(state->device.displayHigh, 4000);
            ++runs;
        }
    }
    EXPECT_EQ(runs, codes.size() * 4);
}

} // namespace
} // namespace veltrane
