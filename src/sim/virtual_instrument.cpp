#include "sim/virtual_instrument.h"

#include <algorithm>
#include <cstdio>

#include "device/wire_protocol.h"
#include "platform/byte_order.h"

namespace veltrane {

namespace {

// State words the instrument reports besides ReadyState.
constexpr std::uint32_t kStateBusy = 0x0001;
constexpr std::uint32_t kStateError = 0x0004;
// Completion words of the status block besides ReadyState.
constexpr std::uint32_t kCompletionRejected = 0x0002;
constexpr std::uint32_t kCompletionMalformed = 0x0003;

// How long the instrument takes for its actions, in ms.
constexpr std::uint32_t kReadoutMs = 12;
constexpr std::uint32_t kOpenForReadMs = 15;
constexpr std::uint32_t kOpenForWriteMs = 60; // erasing the flash area
constexpr std::uint32_t kChunkReadMs = 4;
constexpr std::uint32_t kChunkWriteMs = 25;

struct CommandShape {
    std::uint16_t code;
    std::uint32_t paramLength;
};

constexpr CommandShape kShapes[] = {
    {wire::kReadAuxInfoA, 2},   {wire::kReadAuxInfoB, 2},   {wire::kReadSensorRecord, 2}, {wire::kReadDeviceRecord, 2},
    {wire::kReadPixelBlock, 4}, {wire::kStartExposure, 16}, {wire::kPollState, 2},        {wire::kSetLaser, 6},
    {wire::kGetControlInfo, 2}, {wire::kSetFileName, 2},    {wire::kGetFileInfo, 2},      {wire::kFileRwRequest, 12},
    {wire::kTransferChunk, 2},  {wire::kCloseFile, 2},
};

std::string Hex(std::uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", v);
    return text;
}

} // namespace

VirtualInstrument::VirtualInstrument(Clock& clock, SimModel model, SimSample sample,
                                     std::optional<std::uint64_t> seed)
    : m_clock(clock), m_model(std::move(model)), m_synth(m_model, sample, seed ? *seed : FreshSimSeed()) {
    m_files[wire::kCalibrationPath] = m_model.calibrationFile();
    m_frame.assign(m_model.frameLength, 0);
}

void VirtualInstrument::violation(const std::string& what) {
    m_violations.push_back("command " + Hex(m_code) + ": " + what);
}

void VirtualInstrument::record(SimLogEntry::Kind kind, const std::uint8_t* bytes, std::uint32_t n) {
    if (m_logLimit == 0) return;
    if (m_log.size() >= m_logLimit) m_log.pop_front();
    m_log.push_back(SimLogEntry{kind, m_code, m_clock.tickCount(), std::vector<std::uint8_t>(bytes, bytes + n)});
}

bool VirtualInstrument::lossDue(SimLossStage stage) const {
    if (!m_lossAt || m_lost) return false;
    if (stage == SimLossStage::BeforeBlock) return m_commandCount == *m_lossAt && m_lossStage == stage;
    // Later stages belong to the command already counted.
    if (m_commandCount == 0 || m_commandCount - 1 != *m_lossAt) return false;
    if (stage == SimLossStage::BeforeData) return m_lossStage == SimLossStage::BeforeData;
    return m_lossStage == SimLossStage::BeforeData || m_lossStage == SimLossStage::BeforeStatus;
}

void VirtualInstrument::strikeLoss() {
    m_lost = true;
    m_lossAt.reset();
    // A device that drops off the bus loses whatever exchange was under way.
    m_phase = Phase::Idle;
}

void VirtualInstrument::hostOpened() {
    std::lock_guard lock(m_mutex);
    if (m_phase != Phase::Idle) {
        violation("device opened again before the previous exchange read its status block");
        m_phase = Phase::Idle;
    }
}

BridgeStatus VirtualInstrument::hostWrite(const std::uint8_t* data, std::uint32_t bytes, std::uint32_t& transferred) {
    std::lock_guard lock(m_mutex);
    transferred = 0;
    if (m_lost) return BridgeStatus::DeviceIoFailed;
    switch (m_phase) {
    case Phase::Idle:
        if (lossDue(SimLossStage::BeforeBlock)) {
            strikeLoss();
            return BridgeStatus::DeviceIoFailed;
        }
        transferred = bytes;
        handleBlock(data, bytes);
        return BridgeStatus::Success;
    case Phase::DataIn:
        if (lossDue(SimLossStage::BeforeData)) {
            strikeLoss();
            return BridgeStatus::DeviceIoFailed;
        }
        transferred = bytes;
        record(SimLogEntry::Kind::DataToDevice, data, bytes);
        handleDataIn(data, bytes);
        return BridgeStatus::Success;
    case Phase::DataOut:
    case Phase::StatusOut:
        violation("host wrote " + std::to_string(bytes) + " bytes while the device had a reply to send");
        return BridgeStatus::WriteError;
    }
    return BridgeStatus::WriteError;
}

BridgeStatus VirtualInstrument::hostRead(std::uint8_t* buffer, std::uint32_t bytes, std::uint32_t& transferred) {
    std::lock_guard lock(m_mutex);
    transferred = 0;
    if (m_lost) return BridgeStatus::DeviceIoFailed;
    switch (m_phase) {
    case Phase::Idle:
        violation("host read " + std::to_string(bytes) + " bytes with no exchange under way");
        return BridgeStatus::ReadTimedOut;
    case Phase::DataIn:
        violation("host read while the device waited for " + std::to_string(m_dataInExpected) + " data bytes");
        return BridgeStatus::ReadTimedOut;
    case Phase::DataOut: {
        if (lossDue(SimLossStage::BeforeData)) {
            strikeLoss();
            return BridgeStatus::DeviceIoFailed;
        }
        std::uint32_t remaining = static_cast<std::uint32_t>(m_dataOut.size()) - m_dataOutPos;
        if (bytes != remaining)
            violation("host read " + std::to_string(bytes) + " bytes of a " + std::to_string(remaining) +
                      "-byte data phase");
        std::uint32_t n = std::min(bytes, remaining);
        if (m_shortReplies || (m_shortAt && m_commandCount - 1 == *m_shortAt)) n /= 2;
        std::copy_n(m_dataOut.begin() + m_dataOutPos, n, buffer);
        if (m_corruptReplies)
            for (std::uint32_t i = 0; i < n; i += 3)
                buffer[i] ^= 0x5A;
        record(SimLogEntry::Kind::DataFromDevice, buffer, n);
        transferred = n;
        // A short transfer still ends the data phase: the device moves on to its
        // status block, as a bulk endpoint would after a short packet.
        m_phase = Phase::StatusOut;
        m_dataOutPos = 0;
        return n == bytes ? BridgeStatus::Success : BridgeStatus::ReadTimedOut;
    }
    case Phase::StatusOut: {
        if (lossDue(SimLossStage::BeforeStatus)) {
            strikeLoss();
            return BridgeStatus::DeviceIoFailed;
        }
        if (bytes != wire::kStatusSize)
            violation("host read " + std::to_string(bytes) + " bytes for the 16-byte status block");
        std::vector<std::uint8_t> status = statusBlock();
        std::uint32_t n = std::min<std::uint32_t>(bytes, wire::kStatusSize);
        if (m_shortReplies) n /= 2;
        std::copy_n(status.begin(), n, buffer);
        record(SimLogEntry::Kind::Status, buffer, n);
        transferred = n;
        m_phase = Phase::Idle;
        return n == bytes ? BridgeStatus::Success : BridgeStatus::ReadTimedOut;
    }
    }
    return BridgeStatus::ReadError;
}

std::vector<std::uint8_t> VirtualInstrument::statusBlock() const {
    std::vector<std::uint8_t> status(wire::kStatusSize, 0);
    PutU32(status.data() + 0, m_code);
    PutU32(status.data() + 4, static_cast<std::uint32_t>(m_dataOut.size()));
    PutU32(status.data() + 8, m_commandCount);
    PutU32(status.data() + wire::kOffCompletion, m_completion);
    return status;
}

void VirtualInstrument::handleBlock(const std::uint8_t* block, std::uint32_t n) {
    m_code = n >= wire::kHeaderSize + 2 ? GetU16(block + wire::kOffCode) : 0;
    if (m_neverReadyAfterCode && *m_neverReadyAfterCode == m_code) m_hungAfterCode = true;
    record(SimLogEntry::Kind::Command, block, n);
    ++m_commandCount;
    m_dataOut.clear();
    m_dataOutPos = 0;
    m_completion = kCompletionMalformed;
    m_phase = Phase::StatusOut;

    if (n < wire::kHeaderSize + 2) {
        violation("command block of " + std::to_string(n) + " bytes");
        return;
    }
    std::uint32_t magic1 = GetU32(block + wire::kOffMagic1);
    std::uint32_t magic2 = GetU32(block + wire::kOffMagic2);
    std::uint32_t dataLength = GetU32(block + wire::kOffDataLength);
    std::uint32_t reserved = GetU32(block + wire::kOffReserved);
    std::uint32_t commandLength = GetU32(block + wire::kOffCommandLength);
    std::uint32_t paramLength = GetU32(block + wire::kOffParamLength);
    if (magic1 != wire::kMagic1 || magic2 != wire::kMagic2) {
        violation("bad magic words");
        return;
    }
    if (reserved != 0) violation("reserved word is " + std::to_string(reserved));
    const CommandShape* shape = nullptr;
    for (const CommandShape& s : kShapes)
        if (s.code == m_code) shape = &s;
    if (!shape) {
        violation("unknown command code");
        return;
    }
    if (paramLength != shape->paramLength) {
        violation("parameter length " + std::to_string(paramLength) + ", expected " +
                  std::to_string(shape->paramLength));
        return;
    }
    if (n != wire::kHeaderSize + paramLength) {
        violation("block of " + std::to_string(n) + " bytes for parameter length " + std::to_string(paramLength));
        return;
    }
    if (m_code != wire::kReadPixelBlock && commandLength != wire::kHeaderSize + paramLength)
        violation("command length field " + std::to_string(commandLength));
    execute(m_code, block + wire::kOffParams, paramLength - 2, dataLength, commandLength);
}

void VirtualInstrument::startAction(std::uint16_t code, std::uint32_t durationMs, bool failed) {
    m_actionCode = code;
    m_actionStart = m_clock.tickCount();
    m_actionDuration = durationMs;
    m_actionFailed = failed;
}

bool VirtualInstrument::actionReady() {
    return TicksSince(m_actionStart, m_clock.tickCount()) >= m_actionDuration;
}

void VirtualInstrument::finishExposureIfDue() {
    if (m_exposureRunning && actionReady()) {
        m_frame = std::move(m_pendingFrame);
        m_pendingFrame.clear();
        m_exposureRunning = false;
    }
}

std::uint32_t VirtualInstrument::stateWord() {
    finishExposureIfDue();
    if (m_neverReady || m_hungAfterCode || (m_neverReadyAt && m_commandCount - 1 >= *m_neverReadyAt)) return kStateBusy;
    if (!actionReady()) return kStateBusy;
    return m_actionFailed ? kStateError : wire::kReadyState;
}

void VirtualInstrument::execute(std::uint16_t code, const std::uint8_t* params, std::uint32_t extraLength,
                                std::uint32_t dataLength, std::uint32_t commandLength) {
    auto expectData = [&](std::uint32_t expected) {
        if (dataLength != expected) {
            violation("data length field " + std::to_string(dataLength) + ", expected " + std::to_string(expected));
            return false;
        }
        return true;
    };
    auto replyWith = [&](std::vector<std::uint8_t> reply) {
        m_dataOut = std::move(reply);
        m_phase = Phase::DataOut;
        m_completion = wire::kReadyState;
    };
    (void)extraLength;

    switch (code) {
    case wire::kReadAuxInfoA:
    case wire::kReadAuxInfoB: {
        if (!expectData(wire::kAuxInfoSize)) return;
        // Production week and board revision; the host gives them no meaning.
        std::vector<std::uint8_t> aux(wire::kAuxInfoSize, 0);
        PutU16(aux.data(), code == wire::kReadAuxInfoA ? 0x2619 : 0x0003);
        PutU16(aux.data() + 2, m_model.deviceType);
        PutU32(aux.data() + 4, m_model.deviceSerial ^ (code == wire::kReadAuxInfoA ? 0xA5A5u : 0x5A5Au));
        replyWith(std::move(aux));
        return;
    }
    case wire::kReadSensorRecord: {
        if (!expectData(wire::kSensorRecordSize)) return;
        std::vector<std::uint8_t> rec(wire::kSensorRecordSize, 0);
        PutU32(rec.data() + 0, 0x53454E53); // "SENS"
        PutU16(rec.data() + 4, 16);         // ADC bits
        PutU16(rec.data() + 8, 14);         // pixel pitch in um
        PutU16(rec.data() + wire::kSensorOffTotal, m_model.frameLength);
        PutU16(rec.data() + wire::kSensorOffFirst, m_model.firstPixel);
        PutU16(rec.data() + wire::kSensorOffLast, m_model.lastPixel);
        replyWith(std::move(rec));
        return;
    }
    case wire::kReadDeviceRecord: {
        if (!expectData(wire::kDeviceRecordSize)) return;
        std::vector<std::uint8_t> rec(wire::kDeviceRecordSize, 0);
        PutU32(rec.data() + 0, 0x52414D4E); // "NMAR"
        PutF32(rec.data() + wire::kDeviceOffLaser, m_model.laserNm);
        rec[wire::kDeviceOffType] = m_model.deviceType;
        rec[wire::kDeviceOffHwMinor] = m_model.hwMinor;
        rec[wire::kDeviceOffHwMajor] = m_model.hwMajor;
        PutU16(rec.data() + wire::kDeviceOffFwMinor, m_model.fwMinor);
        PutU16(rec.data() + wire::kDeviceOffFwMajor, m_model.fwMajor);
        std::size_t serialBytes = std::min<std::size_t>(m_model.opticsSerial.size(), wire::kOpticsSerialSize);
        std::copy_n(m_model.opticsSerial.begin(), serialBytes, rec.begin() + wire::kDeviceOffOpticsSerial);
        PutU32(rec.data() + wire::kDeviceOffSerial, m_model.deviceSerial);
        replyWith(std::move(rec));
        return;
    }
    case wire::kReadPixelBlock: {
        std::uint32_t count = commandLength; // this command carries the pixel count there
        std::uint16_t block = GetU16(params);
        if (count != wire::kMaxPixelsPerBlock && count != 256) {
            violation("pixel block of " + std::to_string(count) + " pixels");
            return;
        }
        if (!expectData(2 * count + wire::kPixelHeaderSize)) return;
        finishExposureIfDue();
        if (m_exposureRunning) violation("pixel block read before the exposure completed");
        std::vector<std::uint8_t> reply(2 * count + wire::kPixelHeaderSize, 0);
        PutU16(reply.data(), block);
        PutU16(reply.data() + 2, static_cast<std::uint16_t>(count));
        std::size_t from = static_cast<std::size_t>(block) * count;
        for (std::uint32_t i = 0; i < count && from + i < m_frame.size(); ++i)
            PutU16(reply.data() + wire::kPixelHeaderSize + 2 * i, m_frame[from + i]);
        if (from >= m_frame.size()) violation("pixel block " + std::to_string(block) + " lies beyond the frame");
        replyWith(std::move(reply));
        return;
    }
    case wire::kStartExposure: {
        if (!expectData(0)) return;
        std::uint16_t zero = GetU16(params);
        std::uint32_t exposure = GetU32(params + 2);
        std::uint32_t one = GetU32(params + 6);
        std::uint32_t last = GetU32(params + 10);
        if (zero != 0 || one != 1 || last != 0) violation("unexpected constant parameters of StartExposure");
        if (!m_queuedFrames.empty()) {
            m_pendingFrame = std::move(m_queuedFrames.front());
            m_queuedFrames.pop_front();
            m_pendingFrame.resize(m_model.frameLength, 0);
        } else {
            m_pendingFrame = m_synth.frame(exposure, m_laserOn);
        }
        m_exposureRunning = true;
        startAction(code, exposure + kReadoutMs);
        m_completion = wire::kReadyState;
        return;
    }
    case wire::kPollState: {
        if (!expectData(wire::kPollReplySize)) return;
        std::vector<std::uint8_t> reply(wire::kPollReplySize, 0);
        std::uint32_t state = stateWord();
        std::uint32_t elapsed = TicksSince(m_actionStart, m_clock.tickCount());
        PutU32(reply.data(), m_actionCode);
        PutU32(reply.data() + 4, state);
        PutU32(reply.data() + 8, elapsed < m_actionDuration ? m_actionDuration - elapsed : 0);
        replyWith(std::move(reply));
        return;
    }
    case wire::kSetLaser: {
        if (!expectData(0)) return;
        std::uint16_t on = GetU16(params);
        std::uint16_t second = GetU16(params + 2);
        if (on > 1) violation("laser switch value " + std::to_string(on));
        if (second != 0) violation("laser second value " + std::to_string(second));
        if (m_laserFails) {
            m_completion = kCompletionRejected;
            return;
        }
        m_laserOn = on == 1;
        m_completion = wire::kReadyState;
        return;
    }
    case wire::kGetControlInfo: {
        if (!expectData(wire::kControlInfoSize)) return;
        std::vector<std::uint8_t> reply(wire::kControlInfoSize, 0);
        PutU16(reply.data(), 0x0102);               // file protocol revision
        PutU16(reply.data() + 2, wire::kMaxChunk);  // largest chunk
        PutU32(reply.data() + 4, 4u * 1024 * 1024); // free flash
        replyWith(std::move(reply));
        return;
    }
    case wire::kSetFileName:
        if (!expectData(wire::kFileNameDataSize)) return;
        m_dataInExpected = wire::kFileNameDataSize;
        m_phase = Phase::DataIn;
        return;
    case wire::kGetFileInfo: {
        if (!expectData(wire::kFileInfoSize)) return;
        std::vector<std::uint8_t> reply(wire::kFileInfoSize, 0);
        if (!m_currentPath) violation("file information asked before a file name was set");
        auto it = m_currentPath ? m_files.find(*m_currentPath) : m_files.end();
        PutU32(reply.data() + 4, it != m_files.end() ? 1 : 0);
        PutU32(reply.data() + 8, it != m_files.end() ? static_cast<std::uint32_t>(it->second.size()) : 0);
        replyWith(std::move(reply));
        return;
    }
    case wire::kFileRwRequest: {
        if (!expectData(0)) return;
        std::uint16_t zero = GetU16(params);
        std::uint32_t direction = GetU32(params + 2);
        std::uint32_t size = GetU32(params + 6);
        if (zero != 0) violation("first parameter of the file request is " + std::to_string(zero));
        if (direction > 1) {
            violation("file request direction " + std::to_string(direction));
            return;
        }
        if (!m_currentPath) {
            violation("file request before a file name was set");
            return;
        }
        m_completion = wire::kReadyState;
        m_rwOpen = true;
        m_rwDirection = direction;
        m_rwSize = size;
        m_rwOffset = 0;
        m_writeBuffer.clear();
        if (direction == wire::kDirectionRead) {
            auto it = m_files.find(*m_currentPath);
            bool fits = it != m_files.end() && size <= it->second.size();
            if (it == m_files.end())
                violation("read requested of a file that does not exist");
            else if (!fits)
                violation("read of " + std::to_string(size) + " bytes requested beyond the file's end");
            startAction(code, kOpenForReadMs, !fits);
        } else {
            startAction(code, kOpenForWriteMs);
        }
        return;
    }
    case wire::kTransferChunk: {
        if (!m_rwOpen) {
            violation("chunk transfer with no file request open");
            return;
        }
        if (m_rwDirection == wire::kDirectionRead) {
            if (dataLength == 0 || dataLength > wire::kMaxChunk) {
                violation("read chunk of " + std::to_string(dataLength) + " bytes");
                return;
            }
            if (!actionReady()) violation("chunk read while the device was busy");
            const std::vector<std::uint8_t>& content = m_files[*m_currentPath];
            std::vector<std::uint8_t> chunk(dataLength, 0);
            if (m_rwOffset + dataLength > m_rwSize) violation("chunk reads past the requested size");
            for (std::uint32_t i = 0; i < dataLength && m_rwOffset + i < content.size(); ++i)
                chunk[i] = content[m_rwOffset + i];
            m_rwOffset += dataLength;
            startAction(code, kChunkReadMs);
            replyWith(std::move(chunk));
        } else {
            if (!expectData(0)) return;
            if (!actionReady()) violation("chunk written while the device was busy");
            m_dataInExpected = 0;
            m_phase = Phase::DataIn;
        }
        return;
    }
    case wire::kCloseFile:
        if (!expectData(0)) return;
        if (m_rwOpen && m_rwDirection == wire::kDirectionWrite && m_currentPath) {
            if (m_writeBuffer.size() != m_rwSize)
                violation("file closed after " + std::to_string(m_writeBuffer.size()) + " of " +
                          std::to_string(m_rwSize) + " announced bytes");
            m_files[*m_currentPath] = m_writeBuffer;
        }
        m_rwOpen = false;
        m_writeBuffer.clear();
        m_completion = wire::kReadyState;
        return;
    default:
        return;
    }
}

void VirtualInstrument::handleDataIn(const std::uint8_t* data, std::uint32_t n) {
    m_phase = Phase::StatusOut;
    if (m_code == wire::kSetFileName) {
        if (n != wire::kFileNameDataSize) {
            violation("file name data phase of " + std::to_string(n) + " bytes");
            return;
        }
        if (GetU16(data) != wire::kSetFileName || GetU16(data + 2) != 0)
            violation("file name data phase does not start with the command code and 0");
        std::string path;
        bool terminated = false;
        for (std::uint32_t unit = 0; unit < wire::kPathFieldSize / 2; ++unit) {
            std::uint16_t c = GetU16(data + 4 + 2 * unit);
            if (c == 0) {
                terminated = true;
                break;
            }
            if (c > 0xFF) violation("path character beyond 8 bits");
            path.push_back(static_cast<char>(c));
        }
        if (!terminated || path.size() > wire::kMaxPathChars) {
            violation("path field without terminator within 63 characters");
            return;
        }
        m_currentPath = path;
        m_rwOpen = false;
        m_completion = wire::kReadyState;
        return;
    }
    if (m_code == wire::kTransferChunk) {
        if (n == 0 || n > wire::kMaxChunk) {
            violation("write chunk of " + std::to_string(n) + " bytes");
            return;
        }
        if (m_writeBuffer.size() + n > m_rwSize) violation("chunk writes past the announced size");
        m_writeBuffer.insert(m_writeBuffer.end(), data, data + n);
        m_rwOffset += n;
        startAction(m_code, kChunkWriteMs);
        m_completion = wire::kReadyState;
        return;
    }
    violation("unexpected data phase");
}

void VirtualInstrument::powerCycle() {
    std::lock_guard lock(m_mutex);
    m_phase = Phase::Idle;
    m_laserOn = false;
    m_exposureRunning = false;
    m_pendingFrame.clear();
    m_actionDuration = 0;
    m_actionFailed = false;
    m_rwOpen = false;
    m_writeBuffer.clear();
    m_currentPath.reset();
    m_lost = false;
    m_lossAt.reset();
    m_shortAt.reset();
    m_neverReadyAt.reset();
    m_neverReadyAfterCode.reset();
    m_hungAfterCode = false; // a hang ends with the power; setNeverReady is a lasting fault and stays
}

void VirtualInstrument::setSample(SimSample sample) {
    std::lock_guard lock(m_mutex);
    m_synth.setSample(sample);
}

void VirtualInstrument::setAxisError(double cm) {
    std::lock_guard lock(m_mutex);
    m_synth.setAxisError(cm);
}

void VirtualInstrument::setLaserPower(double percent) {
    std::lock_guard lock(m_mutex);
    m_synth.setLaserPower(percent);
}

SimSample VirtualInstrument::sample() const {
    std::lock_guard lock(m_mutex);
    return m_synth.sample();
}

bool VirtualInstrument::laserOn() const {
    std::lock_guard lock(m_mutex);
    return m_laserOn;
}

std::uint32_t VirtualInstrument::commandCount() const {
    std::lock_guard lock(m_mutex);
    return m_commandCount;
}

void VirtualInstrument::setFile(const std::string& path, std::vector<std::uint8_t> bytes) {
    std::lock_guard lock(m_mutex);
    m_files[path] = std::move(bytes);
}

void VirtualInstrument::removeFile(const std::string& path) {
    std::lock_guard lock(m_mutex);
    m_files.erase(path);
}

std::optional<std::vector<std::uint8_t>> VirtualInstrument::file(const std::string& path) const {
    std::lock_guard lock(m_mutex);
    auto it = m_files.find(path);
    if (it == m_files.end()) return std::nullopt;
    return it->second;
}

void VirtualInstrument::loadDefaultLibraryStore() {
    double low = 150.0;
    double high = m_model.deviceType == 180 ? 3100.0 : 3800.0;
    std::vector<std::uint8_t> store;
    struct Entry {
        const char* name;
        SimSample sample;
        int month, day, hour, minute, second;
    };
    const Entry entries[] = {
        {"Polystyrene reference", SimSample::Polystyrene, 3, 14, 9, 26, 53},
        {"Cyclohexane", SimSample::Cyclohexane, 5, 2, 14, 7, 9},
        {"Paracetamol 500mg tablet", SimSample::Paracetamol, 9, 21, 16, 45, 30},
        {"Ethanol 96%", SimSample::Ethanol, 11, 8, 10, 3, 41},
    };
    for (const Entry& e : entries) {
        std::vector<std::uint8_t> record = MakeSampleLibraryRecord(e.name, e.sample, m_model.deviceType, low, high,
                                                                   2026, e.month, e.day, e.hour, e.minute, e.second);
        store.insert(store.end(), record.begin(), record.end());
    }
    setFile(wire::kLibraryStorePath, std::move(store));
}

void VirtualInstrument::queueFrames(std::vector<std::vector<std::uint16_t>> frames) {
    std::lock_guard lock(m_mutex);
    for (auto& f : frames)
        m_queuedFrames.push_back(std::move(f));
}

void VirtualInstrument::setNeverReady(bool on) {
    std::lock_guard lock(m_mutex);
    m_neverReady = on;
}
void VirtualInstrument::setLaserFails(bool on) {
    std::lock_guard lock(m_mutex);
    m_laserFails = on;
}
void VirtualInstrument::setShortReplies(bool on) {
    std::lock_guard lock(m_mutex);
    m_shortReplies = on;
}
void VirtualInstrument::setCorruptReplies(bool on) {
    std::lock_guard lock(m_mutex);
    m_corruptReplies = on;
}
void VirtualInstrument::scheduleLoss(std::uint32_t index, SimLossStage stage) {
    std::lock_guard lock(m_mutex);
    m_lossAt = m_commandCount + index;
    m_lossStage = stage;
}
void VirtualInstrument::scheduleShortReply(std::uint32_t index) {
    std::lock_guard lock(m_mutex);
    m_shortAt = m_commandCount + index;
}
void VirtualInstrument::neverReadyAfterCode(std::uint16_t code) {
    std::lock_guard lock(m_mutex);
    m_neverReadyAfterCode = code;
}
void VirtualInstrument::scheduleNeverReady(std::uint32_t index) {
    std::lock_guard lock(m_mutex);
    m_neverReadyAt = m_commandCount + index;
}
bool VirtualInstrument::lost() const {
    std::lock_guard lock(m_mutex);
    return m_lost;
}
void VirtualInstrument::clearLoss() {
    std::lock_guard lock(m_mutex);
    m_lost = false;
    m_lossAt.reset();
}

std::vector<SimLogEntry> VirtualInstrument::log() const {
    std::lock_guard lock(m_mutex);
    return {m_log.begin(), m_log.end()};
}
void VirtualInstrument::clearLog() {
    std::lock_guard lock(m_mutex);
    m_log.clear();
}
std::vector<std::string> VirtualInstrument::violations() const {
    std::lock_guard lock(m_mutex);
    return m_violations;
}
void VirtualInstrument::setLogLimit(std::size_t entries) {
    std::lock_guard lock(m_mutex);
    m_logLimit = entries;
    while (m_log.size() > m_logLimit)
        m_log.pop_front();
}

} // namespace veltrane
