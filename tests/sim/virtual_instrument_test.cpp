#include <gtest/gtest.h>

#include "device/device_file_access.h"
#include "platform/byte_order.h"
#include "support/sim_rig.h"

namespace veltrane {
namespace {

using test::SimRig;

// A raw block written straight to the bridge, to see how the instrument
// judges what a faulty host might send.
std::vector<std::string> ViolationsOf(std::vector<std::uint8_t> block) {
    SimRig rig;
    rig.violationsExpected = true;
    BridgeHandle handle = 0;
    std::uint32_t count = 0, done = 0;
    rig.bridge.getNumDevices(count);
    rig.bridge.open(0, handle);
    rig.bridge.write(handle, block.data(), static_cast<std::uint32_t>(block.size()), done);
    std::uint8_t status[16];
    rig.bridge.read(handle, status, 16, done);
    rig.bridge.close(handle);
    return rig.instrument->violations();
}

std::vector<std::uint8_t> Block(std::uint16_t code, std::uint32_t dataLength, std::uint32_t paramLength,
                                std::uint32_t commandLength = 0) {
    std::vector<std::uint8_t> b(24 + paramLength, 0);
    PutU32(b.data(), 0x55443322);
    PutU32(b.data() + 4, 0x1A2B3C4D);
    PutU32(b.data() + 8, dataLength);
    PutU32(b.data() + 16, commandLength ? commandLength : 24 + paramLength);
    PutU32(b.data() + 20, paramLength);
    PutU16(b.data() + 24, code);
    return b;
}

TEST(VirtualInstrumentProtocol, MalformedBlocksAreRecordedAsViolations) {
    EXPECT_TRUE(ViolationsOf(Block(wire::kCloseFile, 0, 2)).empty());
    auto badMagic = Block(wire::kCloseFile, 0, 2);
    badMagic[0] = 0x23;
    EXPECT_EQ(ViolationsOf(badMagic).size(), 1u);
    EXPECT_EQ(ViolationsOf(Block(0x7777, 0, 2)).size(), 1u);             // unknown code
    EXPECT_EQ(ViolationsOf(Block(wire::kCloseFile, 0, 4)).size(), 1u);  // wrong parameter length
    EXPECT_EQ(ViolationsOf(Block(wire::kCloseFile, 8, 2)).size(), 1u);  // data phase announced
    EXPECT_EQ(ViolationsOf(Block(wire::kCloseFile, 0, 2, 99)).size(), 1u); // command length field
}

TEST(VirtualInstrumentProtocol, HostThatSkipsTheStatusBlockIsCaught) {
    SimRig rig;
    rig.violationsExpected = true;
    BridgeHandle handle = 0;
    std::uint32_t count = 0, done = 0;
    rig.bridge.getNumDevices(count);
    rig.bridge.open(0, handle);
    auto block = Block(wire::kCloseFile, 0, 2);
    rig.bridge.write(handle, block.data(), 26, done);
    rig.bridge.close(handle);
    rig.bridge.open(0, handle);
    EXPECT_EQ(rig.instrument->violations().size(), 1u);
}

TEST(VirtualInstrumentBehaviour, ExposureBecomesReadyOnTheSharedClock) {
    SimRig rig;
    ASSERT_TRUE(rig.link.StartExposure(1000));
    EXPECT_NE(rig.link.PollState(), wire::kReadyState);
    rig.clock.advance(999);
    EXPECT_NE(rig.link.PollState(), wire::kReadyState);
    rig.clock.advance(100);
    EXPECT_EQ(rig.link.PollState(), wire::kReadyState);
    rig.instrument->setNeverReady(true);
    EXPECT_NE(rig.link.PollState(), wire::kReadyState);
}

// With the laser on the sample's bands stand out of the dark frame; with it
// off the frame is dark current alone.
TEST(VirtualInstrumentBehaviour, FramesShowTheSampleOnlyWhileTheLaserIsOn) {
    SimRig rig;
    auto readFrame = [&](std::uint32_t exposure) {
        EXPECT_TRUE(rig.link.StartExposure(exposure));
        rig.clock.advance(exposure + 50);
        EXPECT_EQ(rig.link.PollState(), wire::kReadyState);
        std::vector<std::uint16_t> frame(3 * 1024);
        for (std::uint16_t b = 0; b < 3; ++b) {
            EXPECT_TRUE(rig.link.ReadPixelBlock(1024, b));
            rig.link.pixelValues(frame.data() + b * 1024, 1024);
        }
        frame.resize(2546);
        return frame;
    };
    auto dark1 = readFrame(1000);
    auto dark2 = readFrame(1000);
    ASSERT_TRUE(rig.link.SetLaser(1, 0));
    auto lit = readFrame(1000);
    ASSERT_TRUE(rig.link.SetLaser(0, 0));

    auto maxDiff = [](const std::vector<std::uint16_t>& a, const std::vector<std::uint16_t>& b) {
        int best = 0;
        for (std::size_t i = 0; i < a.size(); ++i) best = std::max(best, int(a[i]) - int(b[i]));
        return best;
    };
    EXPECT_LT(maxDiff(dark2, dark1), 300);
    EXPECT_GT(maxDiff(lit, dark1), 2000);
}

TEST(VirtualInstrumentBehaviour, FileStoreRoundTripsAWriteAndKeepsItAcrossAReplug) {
    SimRig rig;
    std::vector<std::uint8_t> content(3000);
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<std::uint8_t>(i % 251);
    DeviceFileAccess file(rig.link, rig.clock);
    std::uint32_t size = 0;
    ASSERT_EQ(file.select("/SYS1/TEST.BIN", false, size), FileAccessResult::Success);
    ASSERT_EQ(file.request(wire::kDirectionWrite, 3000), FileAccessResult::Success);
    for (std::uint32_t at = 0; at < 3000; at += 1024)
        ASSERT_EQ(file.writeChunk(content.data() + at, std::min<std::uint32_t>(1024, 3000 - at), WaitOrder::SleepFirst),
                  FileAccessResult::Success);
    ASSERT_EQ(file.close(), FileAccessResult::Success);

    rig.bridge.unplug();
    rig.bridge.replug();
    ASSERT_EQ(file.select("/SYS1/TEST.BIN", true, size), FileAccessResult::Success);
    ASSERT_EQ(size, 3000u);
    ASSERT_EQ(file.request(wire::kDirectionRead, size), FileAccessResult::Success);
    std::vector<std::uint8_t> back(3000);
    for (std::uint32_t at = 0; at < 3000; at += 1024)
        ASSERT_EQ(file.readChunk(back.data() + at, std::min<std::uint32_t>(1024, 3000 - at), WaitOrder::SleepFirst),
                  FileAccessResult::Success);
    ASSERT_EQ(file.close(), FileAccessResult::Success);
    EXPECT_EQ(back, content);
}

TEST(VirtualInstrumentBehaviour, DefaultLibraryStoreHoldsWholeRecords) {
    SimRig rig;
    rig.instrument->loadDefaultLibraryStore();
    auto store = rig.instrument->file(wire::kLibraryStorePath);
    ASSERT_TRUE(store);
    ASSERT_FALSE(store->empty());
    EXPECT_EQ(store->size() % 5120, 0u);
    EXPECT_EQ(GetU16(store->data() + 112), rig.instrument->model().deviceType);
}

TEST(VirtualInstrumentBehaviour, PowerCycleSwitchesTheLaserOff) {
    SimRig rig;
    ASSERT_TRUE(rig.link.SetLaser(1, 0));
    rig.bridge.unplug();
    EXPECT_TRUE(rig.instrument->laserOn()); // unplugged, not yet powered down
    rig.bridge.replug();
    EXPECT_FALSE(rig.instrument->laserOn());
}

} // namespace
} // namespace veltrane

namespace veltrane {
namespace {

TEST(VirtualInstrumentFaults, CorruptRepliesArriveWholeButWrong) {
    test::SimRig rig;
    ASSERT_TRUE(rig.link.ReadSensorRecord());
    auto clean = rig.link.sensorRecord();
    rig.instrument->setCorruptReplies(true);
    ASSERT_TRUE(rig.link.ReadSensorRecord()); // the link cannot tell: every byte came
    EXPECT_NE(rig.link.sensorRecord(), clean);
    rig.instrument->setCorruptReplies(false);
    ASSERT_TRUE(rig.link.ReadSensorRecord());
    EXPECT_EQ(rig.link.sensorRecord(), clean);
}

} // namespace
} // namespace veltrane
