#include <gtest/gtest.h>

#include <cstring>

#include "app/program_state.h"
#include "device/device_file_access.h"
#include "support/sim_rig.h"

namespace veltrane {
namespace {

using test::SimRig;

std::vector<std::uint8_t> FloatsFile(std::initializer_list<float> values) {
    std::vector<std::uint8_t> bytes;
    for (float v : values) {
        std::uint8_t b[4];
        std::memcpy(b, &v, 4); // the test machine is little-endian, like the file
        bytes.insert(bytes.end(), b, b + 4);
    }
    return bytes;
}

std::vector<std::uint32_t> DataLengthsOf(const SimRig& rig, std::uint16_t code) {
    std::vector<std::uint32_t> lengths;
    for (const SimLogEntry& e : rig.entriesOf(code))
        if (e.kind == SimLogEntry::Kind::Command) lengths.push_back(GetU32(e.bytes.data() + 8));
    return lengths;
}

std::size_t Count(const std::vector<std::uint16_t>& codes, std::uint16_t code) {
    return static_cast<std::size_t>(std::count(codes.begin(), codes.end(), code));
}

class CalibrationRead : public ::testing::Test {
protected:
    SimRig rig;
    std::unique_ptr<ProgramState> state = std::make_unique<ProgramState>();
};

TEST_F(CalibrationRead, MissingFileGivesDefaultsWithoutRequestingAnything) {
    rig.instrument->removeFile(wire::kCalibrationPath);
    state->device.waveCal = {5, 5, 5, 5, 5, 5};
    state->device.waveCalValid = true;
    EXPECT_EQ(ReadCalibration(rig.link, rig.clock, state->device), FileAccessResult::FileNotExist);
    EXPECT_FALSE(state->device.waveCalValid);
    EXPECT_EQ(state->device.waveCal, (std::array<float, 6>{1.0f, 1.0f, 0, 0, 0, 0}));
    EXPECT_EQ(rig.commandCodes(),
              (std::vector<std::uint16_t>{wire::kGetControlInfo, wire::kSetFileName, wire::kGetFileInfo}));
}

TEST_F(CalibrationRead, FullFileIsReadInOneChunkOfItsSize) {
    rig.instrument->setFile(wire::kCalibrationPath, FloatsFile({532.5f, 0.0625f, -1.5e-6f, 2e-10f, -3e-14f, 7.0f}));
    EXPECT_EQ(ReadCalibration(rig.link, rig.clock, state->device), FileAccessResult::Success);
    EXPECT_TRUE(state->device.waveCalValid);
    EXPECT_EQ(state->device.waveCal, (std::array<float, 6>{532.5f, 0.0625f, -1.5e-6f, 2e-10f, -3e-14f, 7.0f}));
    EXPECT_EQ(DataLengthsOf(rig, wire::kTransferChunk), (std::vector<std::uint32_t>{24}));
    auto codes = rig.commandCodes();
    EXPECT_EQ(codes.front(), wire::kGetControlInfo);
    EXPECT_EQ(codes.back(), wire::kCloseFile);
    // The request announces a read of the whole file.
    auto request = rig.entriesOf(wire::kFileRwRequest)[0].bytes;
    EXPECT_EQ(GetU32(request.data() + 28), 1u);
    EXPECT_EQ(GetU32(request.data() + 32), 24u);
}

TEST_F(CalibrationRead, ShortFileFillsTheRestWithZeros) {
    rig.instrument->setFile(wire::kCalibrationPath, FloatsFile({600.0f, 0.1f, 0.001f, 0.0001f, 0.00001f}));
    state->device.waveCal = {9, 9, 9, 9, 9, 9};
    EXPECT_EQ(ReadCalibration(rig.link, rig.clock, state->device), FileAccessResult::Success);
    EXPECT_TRUE(state->device.waveCalValid);
    EXPECT_EQ(state->device.waveCal, (std::array<float, 6>{600.0f, 0.1f, 0.001f, 0.0001f, 0.00001f, 0.0f}));
}

TEST_F(CalibrationRead, FileWithoutASlopeIsNoCalibration) {
    for (std::size_t size : {1u, 4u, 7u}) {
        std::vector<std::uint8_t> bytes = FloatsFile({600.0f, 0.1f});
        bytes.resize(size);
        rig.instrument->setFile(wire::kCalibrationPath, bytes);
        state->device.waveCalValid = true;
        ReadCalibration(rig.link, rig.clock, state->device);
        EXPECT_FALSE(state->device.waveCalValid) << size;
        EXPECT_EQ(state->device.waveCal, (std::array<float, 6>{1.0f, 1.0f, 0, 0, 0, 0})) << size;
    }
}

TEST_F(CalibrationRead, LongFileKeepsItsFirstSixValuesAndNeverExceedsAChunk) {
    std::vector<std::uint8_t> big = FloatsFile({1, 2, 3, 4, 5, 6});
    big.resize(5000, 0xEE);
    rig.instrument->setFile(wire::kCalibrationPath, big);
    EXPECT_EQ(ReadCalibration(rig.link, rig.clock, state->device), FileAccessResult::Success);
    EXPECT_EQ(state->device.waveCal, (std::array<float, 6>{1, 2, 3, 4, 5, 6}));
    for (std::uint32_t length : DataLengthsOf(rig, wire::kTransferChunk))
        EXPECT_LE(length, 1024u);
    EXPECT_EQ(rig.commandCodes().back(), wire::kCloseFile);
}

TEST_F(CalibrationRead, EmptyFileIsAFailedRead) {
    rig.instrument->setFile(wire::kCalibrationPath, {});
    EXPECT_NE(ReadCalibration(rig.link, rig.clock, state->device), FileAccessResult::Success);
    EXPECT_FALSE(state->device.waveCalValid);
    EXPECT_EQ(state->device.waveCal[0], 1.0f);
    EXPECT_EQ(Count(rig.commandCodes(), wire::kFileRwRequest), 0u);
}

TEST_F(CalibrationRead, DeviceNeverReadyTimesOutAfter3000msPolledEvery50ms) {
    rig.instrument->setNeverReady(true);
    std::uint32_t start = rig.clock.tickCount();
    EXPECT_EQ(ReadCalibration(rig.link, rig.clock, state->device), FileAccessResult::RequestTimeout);
    std::uint32_t elapsed = rig.clock.tickCount() - start;
    EXPECT_GE(elapsed, 3000u);
    EXPECT_LT(elapsed, 3050u);

    std::vector<std::uint32_t> pollTicks;
    for (const SimLogEntry& e : rig.entriesOf(wire::kPollState))
        if (e.kind == SimLogEntry::Kind::Command) pollTicks.push_back(e.tick);
    ASSERT_EQ(pollTicks.size(), 60u);
    EXPECT_EQ(pollTicks.front(), start); // asks before it sleeps
    for (std::size_t i = 1; i < pollTicks.size(); ++i)
        EXPECT_EQ(pollTicks[i] - pollTicks[i - 1], 50u);
    auto codes = rig.commandCodes();
    EXPECT_EQ(Count(codes, wire::kTransferChunk), 0u);
    EXPECT_EQ(Count(codes, wire::kCloseFile), 0u);
    EXPECT_FALSE(state->device.waveCalValid);
}

TEST_F(CalibrationRead, EachFailingStepGivesItsOwnCodeAndSendsNothingAfter) {
    // Commands of a calibration read: control info, file name, file info,
    // request, polls until ready, chunk, polls, close. Losing the device at
    // each of the first four gives the codes 1, 2, 3 and 5.
    const std::pair<std::uint32_t, FileAccessResult> cases[] = {
        {0, FileAccessResult::ControlInfoFailed},
        {1, FileAccessResult::SetFileNameFailed},
        {2, FileAccessResult::FileInfoFailed},
        {3, FileAccessResult::RwRequestFailed},
    };
    for (auto [index, expected] : cases) {
        rig.bridge.replug();
        rig.instrument->clearLog();
        rig.instrument->scheduleLoss(index, SimLossStage::BeforeData);
        EXPECT_EQ(ReadCalibration(rig.link, rig.clock, state->device), expected) << index;
        EXPECT_EQ(rig.commandCodes().size(), index + 1) << index;
        EXPECT_FALSE(state->device.waveCalValid);
    }
}

TEST_F(CalibrationRead, ChunkLostOrNeverReadyAfterItGivesCodes7And8) {
    // The chunk's position in the command sequence, from a clean run.
    ASSERT_EQ(ReadCalibration(rig.link, rig.clock, state->device), FileAccessResult::Success);
    auto codes = rig.commandCodes();
    std::uint32_t chunkIndex =
        static_cast<std::uint32_t>(std::find(codes.begin(), codes.end(), wire::kTransferChunk) - codes.begin());

    rig.bridge.replug();
    rig.instrument->scheduleLoss(chunkIndex, SimLossStage::BeforeData);
    EXPECT_EQ(ReadCalibration(rig.link, rig.clock, state->device), FileAccessResult::ChunkFailed);

    rig.bridge.replug();
    rig.instrument->clearLog();
    rig.instrument->scheduleLoss(chunkIndex + 1, SimLossStage::BeforeBlock); // first poll after the chunk
    EXPECT_EQ(ReadCalibration(rig.link, rig.clock, state->device), FileAccessResult::ChunkTimeout);
    EXPECT_EQ(Count(rig.commandCodes(), wire::kCloseFile), 0u);
}

TEST(ReadyWait, ReadyAtFirstPollDoesNotSleep) {
    SimRig rig;
    ASSERT_TRUE(rig.link.GetControlInfo());
    std::uint64_t slept = rig.clock.sleptMs();
    EXPECT_TRUE(WaitForReadyState(rig.link, rig.clock, WaitOrder::AskFirst));
    EXPECT_EQ(rig.clock.sleptMs(), slept);
    EXPECT_TRUE(WaitForReadyState(rig.link, rig.clock, WaitOrder::SleepFirst));
    EXPECT_EQ(rig.clock.sleptMs(), slept + 50);
}

TEST(ReadyWait, TickCounterWrapDoesNotEndTheWaitEarly) {
    SimRig rig;
    rig.clock.set(0xFFFFFFFFu - 1000);
    ASSERT_TRUE(rig.link.GetControlInfo());
    rig.instrument->setNeverReady(true);
    std::uint32_t start = rig.clock.tickCount();
    EXPECT_FALSE(WaitForReadyState(rig.link, rig.clock, WaitOrder::AskFirst));
    EXPECT_EQ(rig.clock.tickCount() - start, 3000u);
}

} // namespace
} // namespace veltrane
