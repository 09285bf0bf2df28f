#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "device/device_file_access.h"
#include "library/library_file.h"

namespace veltrane {

class Clock;
class DeviceLink;
struct ProgramState;

// A library file of the PC could not be read for an export, or a record could
// not be written into the device folder during an import. Follows the codes
// of the device file access.
constexpr std::uint8_t kLocalLibraryFailed = 11;

// What a transfer routine works with. `stop` ends it at its next step when
// the program closes; it then leaves the instrument's file uncommitted.
struct TransferContext {
    DeviceLink& link;
    Clock& clock;
    ProgramState& state;
    std::string deviceFolder; // where an import writes its records, ending in '/'
    const std::atomic<bool>* stop = nullptr;
    // Told every progress value as it is set (tests and benchmarks follow it).
    std::function<void(std::uint8_t)> progressObserver;
    bool stopRequested() const { return stop && stop->load(std::memory_order_acquire); }
};

// Message and icon of a transfer result (none for 0).
struct TransferMessage {
    const char* text;
    bool error; // the error icon rather than the warning icon
};
TransferMessage TransferResultMessage(std::uint8_t result);

// The question asked before an export: it replaces the instrument's whole
// store. `gone` names the libraries of the device folder (the copy of the
// store an import left) that are not among the exported ones; `mirrorEmpty`
// says there is no such copy to compare with.
std::string ExportQuestion(std::size_t count, const std::vector<std::string>& gone, bool mirrorEmpty);
constexpr const char* kExportCompleted = "Process Completed";

// A record's library name as a file name inside the device folder: a safe
// name stays as it is; otherwise unsafe characters become '_' and a short
// hash of the whole original name is appended, so distinct names stay
// distinct; an empty name gets a name derived from that hash.
std::string SafeRecordName(const std::string& name);

// The 5120-byte record of a 20120-byte PC library file: the header as it is,
// then each pair of neighbouring points averaged (intensities as whole
// numbers, Raman shifts in tenths).
std::string ConvertPcLibraryToRecord(std::string_view pcFile);

// Reads the instrument's library store into one file per record in the
// device folder.
std::uint8_t importFromDevice(const TransferContext& ctx);
// Writes the libraries of the given one-based grid rows of the current view
// as the new content of the instrument's store.
std::uint8_t exportToDevice(const TransferContext& ctx, std::uint16_t count, const std::uint16_t* rows);

// The transfer worker's whole run: the routine of the direction, then the
// result, the status and last the finished state.
void RunTransfer(const TransferContext& ctx);

} // namespace veltrane
