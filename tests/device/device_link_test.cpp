#include <gtest/gtest.h>

#include <thread>

#include "device/device_file_access.h"
#include "device/device_link.h"
#include "platform/byte_order.h"
#include "support/sim_rig.h"

namespace veltrane {
namespace {

using test::Bytes;
using test::SimRig;
using Op = BridgeCall::Op;

std::vector<Op> Ops(const std::vector<BridgeCall>& calls) {
    std::vector<Op> ops;
    for (const BridgeCall& c : calls) ops.push_back(c.op);
    return ops;
}

TEST(DeviceLinkWire, ReadPixelBlockCarriesPixelCountAsCommandLength) {
    SimRig rig;
    rig.bridge.clearCalls();
    ASSERT_TRUE(rig.link.ReadPixelBlock(1024, 2));

    auto log = rig.entriesOf(wire::kReadPixelBlock);
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].kind, SimLogEntry::Kind::Command);
    EXPECT_EQ(log[0].bytes, Bytes({0x22, 0x33, 0x44, 0x55, 0x4D, 0x3C, 0x2B, 0x1A,  // magic words
                                   0x04, 0x08, 0x00, 0x00,                          // data length 2052
                                   0x00, 0x00, 0x00, 0x00,                          // reserved
                                   0x00, 0x04, 0x00, 0x00,                          // 1024 pixels
                                   0x04, 0x00, 0x00, 0x00,                          // parameter length
                                   0x06, 0x00, 0x02, 0x00}));                       // code, block 2
    EXPECT_EQ(log[1].kind, SimLogEntry::Kind::DataFromDevice);
    EXPECT_EQ(log[1].bytes.size(), 2052u);
    EXPECT_EQ(log[2].kind, SimLogEntry::Kind::Status);
    EXPECT_EQ(log[2].bytes.size(), 16u);

    auto calls = rig.bridge.calls();
    EXPECT_EQ(Ops(calls), (std::vector<Op>{Op::Count, Op::Open, Op::Write, Op::Read, Op::Read, Op::Close}));
    EXPECT_EQ(calls[2].argument, 28u);
    EXPECT_EQ(calls[3].argument, 2052u);
    EXPECT_EQ(calls[4].argument, 16u);
}

TEST(DeviceLinkWire, FixedBlocksOfTheCommandSet) {
    SimRig rig;
    ASSERT_TRUE(rig.link.ReadSensorRecord());
    ASSERT_TRUE(rig.link.StartExposure(1500));
    ASSERT_TRUE(rig.link.SetLaser(1, 0));

    EXPECT_EQ(rig.entriesOf(wire::kReadSensorRecord)[0].bytes,
              Bytes({0x22, 0x33, 0x44, 0x55, 0x4D, 0x3C, 0x2B, 0x1A, 0x2C, 0, 0, 0, 0, 0, 0, 0, 0x1A, 0, 0, 0,
                     0x02, 0, 0, 0, 0x05, 0x00}));
    EXPECT_EQ(rig.entriesOf(wire::kStartExposure)[0].bytes,
              Bytes({0x22, 0x33, 0x44, 0x55, 0x4D, 0x3C, 0x2B, 0x1A, 0, 0, 0, 0, 0, 0, 0, 0, 0x28, 0, 0, 0,
                     0x10, 0, 0, 0, 0x05, 0x10, 0, 0, 0xDC, 0x05, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(rig.entriesOf(wire::kSetLaser)[0].bytes,
              Bytes({0x22, 0x33, 0x44, 0x55, 0x4D, 0x3C, 0x2B, 0x1A, 0, 0, 0, 0, 0, 0, 0, 0, 0x1E, 0, 0, 0,
                     0x06, 0, 0, 0, 0x01, 0x50, 0x01, 0x00, 0x00, 0x00}));
    EXPECT_TRUE(rig.instrument->laserOn());
}

TEST(DeviceLinkWire, SetFileNameSendsPathAsUtf16InA132ByteDataPhase) {
    SimRig rig;
    ASSERT_TRUE(rig.link.SetFileName(MakePathField("/SYS1/CALWAV.CFG")));
    auto log = rig.entriesOf(wire::kSetFileName);
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].bytes, Bytes({0x22, 0x33, 0x44, 0x55, 0x4D, 0x3C, 0x2B, 0x1A, 0x84, 0, 0, 0, 0, 0, 0, 0,
                                   0x1A, 0, 0, 0, 0x02, 0, 0, 0, 0x02, 0x40}));
    ASSERT_EQ(log[1].kind, SimLogEntry::Kind::DataToDevice);
    ASSERT_EQ(log[1].bytes.size(), 132u);
    std::vector<std::uint8_t> head(log[1].bytes.begin(), log[1].bytes.begin() + 8);
    EXPECT_EQ(head, Bytes({0x02, 0x40, 0x00, 0x00, 0x2F, 0x00, 0x53, 0x00}));
    // 16 characters, then the zero unit.
    EXPECT_EQ(log[1].bytes[4 + 2 * 15], 'G');
    EXPECT_EQ(log[1].bytes[4 + 2 * 16], 0);
    EXPECT_EQ(log[1].bytes[5 + 2 * 16], 0);
}

TEST(DeviceLinkWire, PathFieldKeepsAtMost63CharactersAndATerminator) {
    PathField field = MakePathField(std::string(80, 'x'));
    EXPECT_EQ(field[2 * 62], 'x');
    EXPECT_EQ(field[2 * 63], 0);
    EXPECT_EQ(field[2 * 63 + 1], 0);
    PathField high = MakePathField("\xE9");
    EXPECT_EQ(high[0], 0xE9); // widened byte, not sign-extended
    EXPECT_EQ(high[1], 0x00);
}

TEST(DeviceLinkWire, WriteChunkSendsBlockThenDataThenReadsStatus) {
    SimRig rig;
    DeviceFileAccess file(rig.link, rig.clock);
    std::uint32_t size = 0;
    ASSERT_EQ(file.select(wire::kLibraryStorePath, false, size), FileAccessResult::Success);
    ASSERT_EQ(file.request(wire::kDirectionWrite, 1024), FileAccessResult::Success);
    std::vector<std::uint8_t> data(1024);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7);
    rig.bridge.clearCalls();
    ASSERT_TRUE(rig.link.TransferChunk(wire::kDirectionWrite, data.data(), 1024));

    auto log = rig.entriesOf(wire::kTransferChunk);
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].bytes, Bytes({0x22, 0x33, 0x44, 0x55, 0x4D, 0x3C, 0x2B, 0x1A, 0, 0, 0, 0, 0, 0, 0, 0,
                                   0x1A, 0, 0, 0, 0x02, 0, 0, 0, 0x13, 0x40}));
    EXPECT_EQ(log[1].kind, SimLogEntry::Kind::DataToDevice);
    EXPECT_EQ(log[1].bytes, data);
    EXPECT_EQ(log[2].kind, SimLogEntry::Kind::Status);
    EXPECT_EQ(Ops(rig.bridge.calls()), (std::vector<Op>{Op::Count, Op::Open, Op::Write, Op::Write, Op::Read, Op::Close}));

    ASSERT_TRUE(WaitForReadyState(rig.link, rig.clock, WaitOrder::SleepFirst));
    ASSERT_EQ(file.close(), FileAccessResult::Success);
    EXPECT_EQ(rig.instrument->file(wire::kLibraryStorePath), data);
}

TEST(DeviceLinkWire, CommandsGoToTheLastEnumeratedBridge) {
    SimRig rig;
    SimModel second = SimModelLarge2048();
    second.deviceSerial = 4242;
    auto other = std::make_shared<VirtualInstrument>(rig.clock, second, SimSample::Polystyrene, 7);
    rig.bridge.attach(other);
    rig.bridge.clearCalls();

    ASSERT_TRUE(rig.link.ReadDeviceRecord());
    auto record = rig.link.deviceRecord();
    EXPECT_EQ(GetU32(record.data() + wire::kDeviceOffSerial), 4242u);
    EXPECT_EQ(rig.link.PollState(), wire::kReadyState);
    for (const BridgeCall& call : rig.bridge.calls()) {
        if (call.op == Op::Open) {
            EXPECT_EQ(call.argument, 1u);
        }
    }
    EXPECT_TRUE(rig.instrument->log().empty());
    EXPECT_EQ(other->commandCount(), 2u);
}

TEST(DeviceLinkWire, WithoutDeviceNothingIsOpenedAndEveryCommandFails) {
    SimRig rig;
    rig.bridge.unplug();
    rig.bridge.clearCalls();
    std::uint8_t chunk[16] = {};
    std::uint32_t exists = 0, size = 0;
    EXPECT_FALSE(rig.link.ReadAuxInfoA());
    EXPECT_FALSE(rig.link.ReadAuxInfoB());
    EXPECT_FALSE(rig.link.ReadSensorRecord());
    EXPECT_FALSE(rig.link.ReadDeviceRecord());
    EXPECT_FALSE(rig.link.ReadPixelBlock(1024, 0));
    EXPECT_FALSE(rig.link.StartExposure(100));
    EXPECT_FALSE(rig.link.SetLaser(0, 0));
    EXPECT_FALSE(rig.link.GetControlInfo());
    EXPECT_FALSE(rig.link.SetFileName(MakePathField("/SYS1/CALWAV.CFG")));
    EXPECT_FALSE(rig.link.GetFileInfo(exists, size));
    EXPECT_FALSE(rig.link.FileRwRequest(1, 24));
    EXPECT_FALSE(rig.link.TransferChunk(1, chunk, 16));
    EXPECT_FALSE(rig.link.CloseFile());
    for (const BridgeCall& call : rig.bridge.calls()) EXPECT_EQ(call.op, Op::Count);
    EXPECT_EQ(rig.bridge.calls().size(), 13u);
    EXPECT_NE(rig.link.PollState(), wire::kReadyState);
    EXPECT_TRUE(rig.instrument->log().empty());
}

TEST(DeviceLinkWire, SetLaserSucceedsOnlyOnReadyCompletionWord) {
    SimRig rig;
    ASSERT_TRUE(rig.link.SetLaser(1, 0));
    EXPECT_TRUE(rig.instrument->laserOn());
    auto status = rig.entriesOf(wire::kSetLaser).back().bytes;
    EXPECT_EQ(GetU32(status.data() + 12), 0x8000u);

    rig.instrument->setLaserFails(true);
    EXPECT_FALSE(rig.link.SetLaser(0, 0));
    status = rig.entriesOf(wire::kSetLaser).back().bytes;
    EXPECT_NE(GetU32(status.data() + 12), 0x8000u);
    EXPECT_TRUE(rig.instrument->laserOn());
}

TEST(DeviceLinkWire, InitLinkSetsTimeoutsThenCountsOnce) {
    SimRig rig;
    rig.link.InitLink();
    auto calls = rig.bridge.calls();
    ASSERT_EQ(Ops(calls), (std::vector<Op>{Op::SetTimeouts, Op::Count}));
    EXPECT_EQ(rig.bridge.readTimeoutMs(), 3000u);
    EXPECT_EQ(rig.bridge.writeTimeoutMs(), 1000u);
}

// A reply that did not arrive whole is a failure, and what it left is not
// mistaken for a fresh reply.
TEST(DeviceLinkFailures, ShortOrLostRepliesFailAndLeaveNoStaleRecord) {
    SimRig rig;
    ASSERT_TRUE(rig.link.ReadSensorRecord());
    EXPECT_EQ(GetU16(rig.link.sensorRecord().data() + wire::kSensorOffTotal), 2546);

    rig.instrument->setShortReplies(true);
    EXPECT_FALSE(rig.link.ReadSensorRecord());
    EXPECT_EQ(GetU16(rig.link.sensorRecord().data() + wire::kSensorOffTotal), 0);
    rig.instrument->setShortReplies(false);

    ASSERT_TRUE(rig.link.ReadDeviceRecord());
    for (SimLossStage stage : {SimLossStage::BeforeBlock, SimLossStage::BeforeData, SimLossStage::BeforeStatus}) {
        rig.bridge.replug();
        rig.instrument->scheduleLoss(0, stage);
        EXPECT_FALSE(rig.link.ReadDeviceRecord()) << static_cast<int>(stage);
        EXPECT_EQ(rig.link.deviceRecord()[wire::kDeviceOffType], 0) << static_cast<int>(stage);
        EXPECT_FALSE(rig.link.CountDevices());
    }
    EXPECT_EQ(rig.bridge.openHandles(), 0u);
}

TEST(DeviceLinkFailures, PollAfterTheDeviceIsGoneIsNeverReady) {
    SimRig rig;
    ASSERT_TRUE(rig.link.GetControlInfo());
    ASSERT_EQ(rig.link.PollState(), wire::kReadyState);
    rig.instrument->scheduleLoss(0, SimLossStage::BeforeData);
    EXPECT_NE(rig.link.PollState(), wire::kReadyState);
    EXPECT_NE(rig.link.PollState(), wire::kReadyState); // device now absent: open fails
    EXPECT_EQ(rig.bridge.openHandles(), 0u);
}

TEST(DeviceLinkFailures, SetLaserToAVanishedDeviceFails) {
    SimRig rig;
    rig.instrument->scheduleLoss(0, SimLossStage::BeforeStatus);
    EXPECT_FALSE(rig.link.SetLaser(1, 0));
}

// Two threads driving the link at once never interleave their exchanges on
// the wire: the instrument would report a block arriving mid-exchange.
TEST(DeviceLinkConcurrency, ExchangesFromTwoThreadsNeverInterleave) {
    SimRig rig;
    ASSERT_TRUE(rig.link.CountDevices());
    std::thread other([&] {
        for (int i = 0; i < 300; ++i) rig.link.PollState();
    });
    for (int i = 0; i < 300; ++i) {
        EXPECT_TRUE(rig.link.ReadDeviceRecord());
        EXPECT_TRUE(rig.link.ReadPixelBlock(1024, static_cast<std::uint16_t>(i % 3)));
    }
    other.join();
    EXPECT_EQ(rig.instrument->commandCount(), 900u);
}

} // namespace
} // namespace veltrane
