// The replies the device link parses: every DeviceLink command run over a
// bridge whose statuses, transferred-byte counts and reply bytes all come from
// the input. The bridge checks each command block the link writes, and tells
// whether each exchange went through completely; the link must report success
// exactly then, hand out the reply it got, and zero its reply area otherwise.

#include <algorithm>
#include <cstring>
#include <vector>

#include "device/device_link.h"
#include "fuzz_support.h"
#include "platform/byte_order.h"

using namespace veltrane;

namespace {

class FuzzBridge : public UsbBridge {
public:
    explicit FuzzBridge(fuzz::InputReader& in) : m_in(in) {}

    // Outcome of the last exchange, set when its handle is closed.
    bool lastExchangeOk = false;
    bool exchangeRan = false;
    std::vector<std::uint8_t> lastReply;   // data phase from the device
    std::vector<std::uint8_t> lastWritten; // data phase to the device
    std::array<std::uint8_t, wire::kStatusSize> lastStatus{};
    std::uint32_t reportedCount = 0;

    void startCommand() {
        lastExchangeOk = false;
        exchangeRan = false;
        lastReply.clear();
        lastWritten.clear();
        lastStatus.fill(0);
    }
    bool handleOpen() const { return m_open; }

    BridgeStatus getNumDevices(std::uint32_t& count) override {
        BridgeStatus status = nextStatus();
        count = m_in.byte() % 4;
        reportedCount = count;
        return status;
    }
    BridgeStatus open(std::uint32_t index, BridgeHandle& handle) override {
        FUZZ_CHECK(!m_open);
        FUZZ_CHECK(index < std::max<std::uint32_t>(reportedCount, 1));
        BridgeStatus status = nextStatus();
        if (status != BridgeStatus::Success) return status;
        m_open = true;
        handle = 77;
        m_phase = Phase::Block;
        m_blockOk = m_dataOk = m_statusOk = false;
        m_expectRead = m_expectWrite = false;
        return status;
    }
    BridgeStatus close(BridgeHandle handle) override {
        FUZZ_CHECK(m_open && handle == 77);
        m_open = false;
        exchangeRan = true;
        lastExchangeOk = m_blockOk && m_dataOk && m_statusOk;
        return BridgeStatus::Success;
    }
    BridgeStatus write(BridgeHandle handle, const std::uint8_t* buffer, std::uint32_t bytes,
                       std::uint32_t& transferred) override {
        FUZZ_CHECK(m_open && handle == 77);
        if (m_phase == Phase::Block) {
            checkBlock(buffer, bytes);
        } else {
            FUZZ_CHECK(m_phase == Phase::Data && m_expectWrite);
            FUZZ_CHECK(bytes >= 1 && bytes <= wire::kMaxChunk);
            lastWritten.assign(buffer, buffer + bytes);
        }
        BridgeStatus status = nextStatus();
        transferred = nextTransferred(bytes);
        bool ok = status == BridgeStatus::Success && transferred == bytes;
        if (m_phase == Phase::Block) {
            m_blockOk = ok;
            m_phase = (m_expectRead || m_expectWrite) ? Phase::Data : Phase::Status;
            m_dataOk = !(m_expectRead || m_expectWrite);
        } else {
            m_dataOk = ok;
            m_phase = Phase::Status;
        }
        return status;
    }
    BridgeStatus read(BridgeHandle handle, std::uint8_t* buffer, std::uint32_t bytes,
                      std::uint32_t& transferred) override {
        FUZZ_CHECK(m_open && handle == 77);
        FUZZ_CHECK(m_phase == Phase::Data || m_phase == Phase::Status);
        if (m_phase == Phase::Data) {
            FUZZ_CHECK(m_expectRead && bytes == m_dataLength);
        } else {
            FUZZ_CHECK(bytes == wire::kStatusSize);
        }
        BridgeStatus status = nextStatus();
        transferred = nextTransferred(bytes);
        // An honest bridge: never more than asked for lands in the buffer.
        m_in.fill(buffer, bytes);
        bool ok = status == BridgeStatus::Success && transferred == bytes;
        if (m_phase == Phase::Data) {
            lastReply.assign(buffer, buffer + bytes);
            m_dataOk = ok;
            m_phase = Phase::Status;
        } else {
            std::copy_n(buffer, wire::kStatusSize, lastStatus.begin());
            m_statusOk = ok;
            m_phase = Phase::Done;
        }
        return status;
    }
    BridgeStatus setTimeouts(std::uint32_t, std::uint32_t) override { return BridgeStatus::Success; }

private:
    enum class Phase { Block, Data, Status, Done };
    fuzz::InputReader& m_in;
    bool m_open = false;
    Phase m_phase = Phase::Done;
    bool m_blockOk = false, m_dataOk = false, m_statusOk = false;
    bool m_expectRead = false, m_expectWrite = false;
    std::uint32_t m_dataLength = 0;

    BridgeStatus nextStatus() {
        std::uint8_t b = m_in.byte();
        if (b < 0xF0) return BridgeStatus::Success;
        static constexpr BridgeStatus kFailures[] = {
            BridgeStatus::InvalidHandle, BridgeStatus::ReadError,    BridgeStatus::WriteError,
            BridgeStatus::DeviceIoFailed, BridgeStatus::ReadTimedOut, BridgeStatus::DeviceNotFound};
        return kFailures[b % 6];
    }
    std::uint32_t nextTransferred(std::uint32_t bytes) {
        std::uint8_t b = m_in.byte();
        if (b < 0xE0) return bytes;
        if (b < 0xF0) return bytes - 1;
        return m_in.u32();
    }

    // The block the link writes must be one the instrument accepts.
    void checkBlock(const std::uint8_t* b, std::uint32_t bytes) {
        FUZZ_CHECK(bytes >= wire::kHeaderSize + 2 && bytes <= wire::kMaxBlockSize);
        FUZZ_CHECK(GetU32(b + wire::kOffMagic1) == wire::kMagic1 && GetU32(b + wire::kOffMagic2) == wire::kMagic2);
        FUZZ_CHECK(GetU32(b + wire::kOffReserved) == 0);
        const std::uint32_t paramLength = GetU32(b + wire::kOffParamLength);
        FUZZ_CHECK(paramLength >= 2 && paramLength <= wire::kMaxParamLength && bytes == wire::kHeaderSize + paramLength);
        const std::uint16_t code = GetU16(b + wire::kOffCode);
        const std::uint32_t commandLength = GetU32(b + wire::kOffCommandLength);
        m_dataLength = GetU32(b + wire::kOffDataLength);
        if (code == wire::kReadPixelBlock) {
            FUZZ_CHECK(commandLength >= 1 && commandLength <= wire::kMaxPixelsPerBlock);
            FUZZ_CHECK(m_dataLength == 2 * commandLength + wire::kPixelHeaderSize);
        } else {
            FUZZ_CHECK(commandLength == wire::kHeaderSize + paramLength);
        }
        switch (code) {
        case wire::kReadAuxInfoA: case wire::kReadAuxInfoB:
            FUZZ_CHECK(m_dataLength == wire::kAuxInfoSize); m_expectRead = true; break;
        case wire::kReadSensorRecord:
            FUZZ_CHECK(m_dataLength == wire::kSensorRecordSize); m_expectRead = true; break;
        case wire::kReadDeviceRecord:
            FUZZ_CHECK(m_dataLength == wire::kDeviceRecordSize); m_expectRead = true; break;
        case wire::kReadPixelBlock: m_expectRead = true; break;
        case wire::kPollState:
            FUZZ_CHECK(m_dataLength == wire::kPollReplySize); m_expectRead = true; break;
        case wire::kGetControlInfo:
            FUZZ_CHECK(m_dataLength == wire::kControlInfoSize); m_expectRead = true; break;
        case wire::kGetFileInfo:
            FUZZ_CHECK(m_dataLength == wire::kFileInfoSize); m_expectRead = true; break;
        case wire::kSetFileName:
            FUZZ_CHECK(m_dataLength == wire::kFileNameDataSize); m_expectWrite = true; break;
        case wire::kTransferChunk:
            FUZZ_CHECK(m_dataLength <= wire::kMaxChunk);
            m_expectRead = m_dataLength != 0;
            m_expectWrite = m_dataLength == 0;
            break;
        case wire::kStartExposure: case wire::kSetLaser: case wire::kFileRwRequest: case wire::kCloseFile:
            FUZZ_CHECK(m_dataLength == 0); break;
        default:
            FUZZ_CHECK(!"unknown command code");
        }
    }
};

template <std::size_t N> bool AllZero(const std::array<std::uint8_t, N>& a) {
    return std::all_of(a.begin(), a.end(), [](std::uint8_t v) { return v == 0; });
}

template <std::size_t N> void CheckReplyArea(const FuzzBridge& bridge, bool ok, const std::array<std::uint8_t, N>& area) {
    FUZZ_CHECK(ok == (bridge.exchangeRan && bridge.lastExchangeOk));
    if (ok)
        FUZZ_CHECK(bridge.lastReply.size() == N && std::equal(area.begin(), area.end(), bridge.lastReply.begin()));
    else
        FUZZ_CHECK(AllZero(area));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::InputReader in(data, size);
    FuzzBridge bridge(in);
    DeviceLink link(bridge);
    link.InitLink();

    for (int step = 0; step < 64 && in.remaining() > 0; ++step) {
        const std::uint8_t command = in.byte() % 15;
        bridge.startCommand();
        bool ok = false;
        switch (command) {
        case 0: ok = link.ReadAuxInfoA(); CheckReplyArea(bridge, ok, link.auxInfoA()); break;
        case 1: ok = link.ReadAuxInfoB(); CheckReplyArea(bridge, ok, link.auxInfoB()); break;
        case 2: ok = link.ReadSensorRecord(); CheckReplyArea(bridge, ok, link.sensorRecord()); break;
        case 3: ok = link.ReadDeviceRecord(); CheckReplyArea(bridge, ok, link.deviceRecord()); break;
        case 4: {
            const std::uint16_t pixels = in.u16() % 1100;
            ok = link.ReadPixelBlock(pixels, in.u16());
            std::vector<std::uint16_t> values(wire::kMaxPixelsPerBlock + 1, 0xBEEF);
            link.pixelValues(values.data(), pixels);
            FUZZ_CHECK(values[wire::kMaxPixelsPerBlock] == 0xBEEF);
            if (pixels == 0 || pixels > wire::kMaxPixelsPerBlock) {
                FUZZ_CHECK(!ok && !bridge.exchangeRan);
                break;
            }
            FUZZ_CHECK(ok == bridge.lastExchangeOk);
            for (std::uint32_t i = 0; i < pixels; ++i)
                FUZZ_CHECK(values[i] == (ok ? GetU16(bridge.lastReply.data() + wire::kPixelHeaderSize + 2 * i) : 0));
            break;
        }
        case 5: ok = link.StartExposure(in.u32()); FUZZ_CHECK(ok == bridge.lastExchangeOk); break;
        case 6: {
            const std::uint32_t state = link.PollState();
            if (bridge.lastExchangeOk)
                FUZZ_CHECK(state == GetU32(bridge.lastReply.data() + 4));
            else
                FUZZ_CHECK(state == DeviceLink::kPollFailed);
            break;
        }
        case 7: {
            ok = link.SetLaser(in.u16(), in.u16());
            FUZZ_CHECK(ok == (bridge.lastExchangeOk &&
                              GetU32(bridge.lastStatus.data() + wire::kOffCompletion) == wire::kReadyState));
            break;
        }
        case 8: ok = link.GetControlInfo(); FUZZ_CHECK(ok == bridge.lastExchangeOk); break;
        case 9: {
            std::string path(in.take(in.byte() % 80));
            ok = link.SetFileName(MakePathField(path));
            FUZZ_CHECK(ok == bridge.lastExchangeOk);
            if (bridge.exchangeRan && !bridge.lastWritten.empty()) {
                // The path as UTF-16LE units, at most 63, then a zero unit.
                FUZZ_CHECK(bridge.lastWritten.size() == wire::kFileNameDataSize);
                const std::size_t chars = std::min<std::size_t>(path.size(), wire::kMaxPathChars);
                for (std::size_t i = 0; i < chars; ++i)
                    FUZZ_CHECK(GetU16(bridge.lastWritten.data() + 4 + 2 * i) == static_cast<std::uint8_t>(path[i]));
                FUZZ_CHECK(GetU16(bridge.lastWritten.data() + 4 + 2 * chars) == 0);
            }
            break;
        }
        case 10: {
            std::uint32_t exists = 1234, fileSize = 5678;
            ok = link.GetFileInfo(exists, fileSize);
            FUZZ_CHECK(ok == bridge.lastExchangeOk);
            FUZZ_CHECK(exists == (ok ? GetU32(bridge.lastReply.data() + 4) : 0));
            FUZZ_CHECK(fileSize == (ok ? GetU32(bridge.lastReply.data() + 8) : 0));
            break;
        }
        case 11: ok = link.FileRwRequest(in.u32(), in.u32()); FUZZ_CHECK(ok == bridge.lastExchangeOk); break;
        case 12: {
            const std::uint32_t n = in.u16() % 1100;
            const bool reading = in.flag();
            std::vector<std::uint8_t> buffer(std::max<std::uint32_t>(n, 1), 0x5A);
            const std::vector<std::uint8_t> original = buffer;
            ok = link.TransferChunk(reading ? wire::kDirectionRead : wire::kDirectionWrite, buffer.data(), n);
            if (n == 0 || n > wire::kMaxChunk) {
                FUZZ_CHECK(!ok && !bridge.exchangeRan);
                break;
            }
            FUZZ_CHECK(ok == bridge.lastExchangeOk);
            if (reading && ok)
                FUZZ_CHECK(bridge.lastReply.size() == n && std::equal(buffer.begin(), buffer.end(), bridge.lastReply.begin()));
            else if (reading)
                FUZZ_CHECK(buffer == original); // a failed read hands out nothing
            else if (!bridge.lastWritten.empty())
                FUZZ_CHECK(bridge.lastWritten == original);
            break;
        }
        case 13: ok = link.CloseFile(); FUZZ_CHECK(ok == bridge.lastExchangeOk); break;
        case 14: ok = link.CountDevices(); FUZZ_CHECK(link.deviceCount() == bridge.reportedCount); break;
        }
        FUZZ_CHECK(!bridge.handleOpen());
    }
    return 0;
}
