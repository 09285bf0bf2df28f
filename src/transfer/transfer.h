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

struct LibraryState;
struct DeviceInfo;

class Clock;
class DeviceLink;

// A library file of the PC could not be read for an export, or a record could
// not be written into the device folder during an import. Follows the codes
// of the device file access.
constexpr std::uint8_t kLocalLibraryFailed = 11;
// More libraries were selected than one export may carry; nothing was sent.
constexpr std::uint8_t kTooManyLibraries = 12;

// Whether an export of `selected` libraries may start: nullptr when it may,
// else the message refusing it. The instrument's store takes at most
// kMaxExportSelection libraries; sending the first of them and announcing
// success would drop the rest without a word.
const char* ExportSelectionRefusal(std::size_t selected);

// What a transfer routine works with. `stop` ends it at its next step when
// the program closes; it then leaves the instrument's file uncommitted.
struct TransferContext {
    DeviceLink& link;
    Clock& clock;
    LibraryState& library;
    const DeviceInfo& device;
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

// The device-folder file of the record at `position` (1-based) of the
// store: the position in five digits, so the folder lists in the store's
// order and equal names stay apart, then a blank and the name as the grid
// shows it, with '/', '\\', control characters and the characters Windows
// refuses in file names made '_'. Only the file name is made safe: the record
// and its header keep their bytes.
std::string DeviceMirrorFileName(std::uint32_t position, const std::string& name);

// The question asked before an export: it replaces the instrument's whole
// store. `gone` names the libraries of the device folder (the copy of the
// store an import left) that are not among the exported ones; `mirrorEmpty`
// says there is no such copy to compare with.
std::string ExportQuestion(std::size_t count, const std::vector<std::string>& gone, bool mirrorEmpty);
constexpr const char* kExportCompleted = "Process Completed";

// The 5120-byte record of a 20120-byte PC library file: the header as it is,
// then each pair of neighbouring points averaged (intensities as whole
// numbers, Raman shifts in tenths).
std::string ConvertPcLibraryToRecord(std::string_view pcFile);

// Reads the instrument's library store into one file per record in the
// device folder.
std::uint8_t importFromDevice(const TransferContext& ctx);
// Writes the libraries of the given files of the current view's folder (the
// files the ticked grid rows were listed from, in row order) as the new
// content of the instrument's store.
std::uint8_t exportToDevice(const TransferContext& ctx, const std::vector<std::string>& files);

// The transfer worker's whole run: the routine of the direction, then the
// result, the status and last the finished state.
void RunTransfer(const TransferContext& ctx);

} // namespace veltrane
