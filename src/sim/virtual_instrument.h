#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/usb_bridge.h"
#include "sim/sample_spectrum.h"
#include "sim/sim_model.h"

namespace veltrane {

// One entry of the instrument's wire log: a block or data phase exactly as it
// crossed the bridge.
struct SimLogEntry {
    enum class Kind : std::uint8_t { Command, DataToDevice, DataFromDevice, Status };
    Kind kind;
    std::uint16_t code; // command code of the exchange it belongs to
    std::uint32_t tick;
    std::vector<std::uint8_t> bytes;
};

// Where within one exchange a scheduled loss of the device strikes.
enum class SimLossStage : std::uint8_t {
    BeforeBlock,  // the command block never arrives
    BeforeData,   // the block arrived, the data phase fails
    BeforeStatus, // block and data went through, the status block is lost
};

// The spectrometer as seen from its USB bridge: a full peer of the command
// protocol. It parses and checks every block, keeps its own state (laser,
// exposure, open file, file store) on the shared clock, and records anything
// the host does wrong as a protocol violation instead of guessing.
class VirtualInstrument {
public:
    // Without a seed the noise differs on every run (FreshSimSeed), as a real
    // instrument's does; tests give one so that their captures repeat.
    VirtualInstrument(Clock& clock, SimModel model, SimSample sample = SimSample::Polystyrene,
                      std::optional<std::uint64_t> seed = std::nullopt);

    // --- wire side, called by SimulatedBridge -------------------------------
    void hostOpened();
    BridgeStatus hostWrite(const std::uint8_t* data, std::uint32_t bytes, std::uint32_t& transferred);
    BridgeStatus hostRead(std::uint8_t* buffer, std::uint32_t bytes, std::uint32_t& transferred);
    // Power cycle: what a replug does. The file store (flash) survives.
    void powerCycle();

    // --- the instrument's own state ------------------------------------------
    const SimModel& model() const { return m_model; }
    void setSample(SimSample sample);
    SimSample sample() const;
    // An axis that has drifted: bands appear `cm` above their true shift.
    void setAxisError(double cm);
    // The laser's output in percent (100 by default). The wire carries only
    // on and off, so this is the instrument's own setting, as a knob on it.
    void setLaserPower(double percent);
    bool laserOn() const;
    std::uint32_t commandCount() const; // command blocks received since construction

    // File store: instrument paths to contents.
    void setFile(const std::string& path, std::vector<std::uint8_t> bytes);
    void removeFile(const std::string& path);
    std::optional<std::vector<std::uint8_t>> file(const std::string& path) const;
    // Fills the library store with a few libraries of the simulator's samples.
    void loadDefaultLibraryStore();
    // Frames to deliver, in order, for the next exposures instead of
    // synthesised ones (each is padded or cut to the frame length).
    void queueFrames(std::vector<std::vector<std::uint16_t>> frames);

    // --- faults --------------------------------------------------------------
    void setNeverReady(bool on);     // PollState never reports ReadyState
    void setLaserFails(bool on);     // SetLaser completes with an error word
    void setShortReplies(bool on);   // data phases to the host come short by half
    void setCorruptReplies(bool on); // data phases to the host carry flipped bits
    // The device vanishes during command number `index` (0-based, counted from
    // now), at the given stage. The bridge then reports it absent.
    void scheduleLoss(std::uint32_t index, SimLossStage stage = SimLossStage::BeforeBlock);
    bool lost() const; // a scheduled loss has struck
    void clearLoss();
    // Command number `index` (0-based, counted from now) gets a short reply;
    // the device stays attached and answers normally afterwards.
    void scheduleShortReply(std::uint32_t index);
    // From command number `index` on, the device never reports ready again.
    void scheduleNeverReady(std::uint32_t index);
    // Once a command with this code arrives, the device never reports ready
    // again (a hang in the middle of a file transfer, say).
    void neverReadyAfterCode(std::uint16_t code);

    // --- observation ---------------------------------------------------------
    std::vector<SimLogEntry> log() const;
    void clearLog();
    std::vector<std::string> violations() const;
    void setLogLimit(std::size_t entries);

private:
    enum class Phase : std::uint8_t { Idle, DataOut, DataIn, StatusOut };

    Clock& m_clock;
    SimModel m_model;
    FrameSynthesizer m_synth;
    mutable std::mutex m_mutex;

    Phase m_phase = Phase::Idle;
    std::uint16_t m_code = 0;
    std::vector<std::uint8_t> m_dataOut;
    std::uint32_t m_dataOutPos = 0;
    std::uint32_t m_dataInExpected = 0; // exact size, or 0 for "1..1024" of a write chunk
    std::uint32_t m_completion = 0;
    std::uint32_t m_commandCount = 0;

    bool m_laserOn = false;
    std::uint32_t m_actionStart = 0;
    std::uint32_t m_actionDuration = 0;
    std::uint16_t m_actionCode = 0;
    bool m_actionFailed = false;
    std::vector<std::uint16_t> m_frame;        // last frame, handed out once complete
    std::vector<std::uint16_t> m_pendingFrame; // frame of the exposure running
    std::deque<std::vector<std::uint16_t>> m_queuedFrames;
    bool m_exposureRunning = false;

    std::map<std::string, std::vector<std::uint8_t>> m_files;
    std::optional<std::string> m_currentPath;
    bool m_rwOpen = false;
    std::uint32_t m_rwDirection = 0;
    std::uint32_t m_rwSize = 0;
    std::uint32_t m_rwOffset = 0;
    std::vector<std::uint8_t> m_writeBuffer;

    bool m_neverReady = false;
    bool m_hungAfterCode = false; // set by neverReadyAfterCode's code arriving
    bool m_laserFails = false;
    bool m_shortReplies = false;
    bool m_corruptReplies = false;
    std::optional<std::uint32_t> m_lossAt; // command count at which the loss strikes
    std::optional<std::uint32_t> m_shortAt;
    std::optional<std::uint32_t> m_neverReadyAt;
    std::optional<std::uint16_t> m_neverReadyAfterCode;
    SimLossStage m_lossStage = SimLossStage::BeforeBlock;
    bool m_lost = false;

    std::deque<SimLogEntry> m_log;
    std::size_t m_logLimit = 200000;
    std::vector<std::string> m_violations;

    void violation(const std::string& what);
    void record(SimLogEntry::Kind kind, const std::uint8_t* bytes, std::uint32_t n);
    void handleBlock(const std::uint8_t* block, std::uint32_t n);
    void execute(std::uint16_t code, const std::uint8_t* params, std::uint32_t paramLength, std::uint32_t dataLength,
                 std::uint32_t commandLength);
    void handleDataIn(const std::uint8_t* data, std::uint32_t n);
    void startAction(std::uint16_t code, std::uint32_t durationMs, bool failed = false);
    bool actionReady();
    std::uint32_t stateWord();
    void finishExposureIfDue();
    std::vector<std::uint8_t> statusBlock() const;
    void strikeLoss();
    bool lossDue(SimLossStage stage) const;
};

} // namespace veltrane
