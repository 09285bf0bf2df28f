#include "transfer/transfer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

#include "device/device_info.h"
#include "device/device_link.h"
#include "library/library_state.h"
#include "platform/byte_order.h"
#include "platform/file_io.h"
#include "platform/folder_listing.h"

namespace veltrane {

namespace {

constexpr std::uint32_t kRecordChunks = 5;

void SetProgress(const TransferContext& ctx, std::uint32_t percent) {
    auto value = static_cast<std::uint8_t>(std::min<std::uint32_t>(percent, 100));
    ctx.library.lib.transferProgress.store(value, std::memory_order_relaxed);
    if (ctx.progressObserver) ctx.progressObserver(value);
}

// Waits after a transfer chunk: sleep first, then ask, within 3000 ms. Ends
// early, as a time-out, when the program is closing.
bool WaitAfterChunk(const TransferContext& ctx) {
    if (ctx.stopRequested()) return false;
    return WaitForReadyState(ctx.link, ctx.clock, WaitOrder::SleepFirst, ctx.stop);
}

bool WriteRecord(const TransferContext& ctx, std::uint32_t position,
                 const std::array<std::uint8_t, kDeviceRecordSize>& record) {
    SpectrumHeader header;
    std::copy_n(record.begin(), kHeaderSize, header.bytes.begin());
    std::string content(record.begin(), record.end());
    return WriteFileAtomically(ctx.deviceFolder + DeviceMirrorFileName(position, header.name()), content);
}

} // namespace

TransferMessage TransferResultMessage(std::uint8_t result) {
    switch (result) {
    case 1:
        return {"Get Ctr Info Fail!", false};
    case 2:
        return {"Set File Name Fail!", false};
    case 3:
        return {"Get File Info Fail!", false};
    case 4:
        return {"File not exist!", false};
    case 5:
        return {"File RWreq Fail!", false};
    case 6:
        return {"RWreq Wait Timeout!", false};
    case 7:
        return {"Transfer Fail!", false};
    case 8:
        return {"Transfer Wait Timeout!", false};
    case 9:
        return {"Close Fail!", false};
    case 10:
        return {"No Device!", true};
    case kLocalLibraryFailed:
        return {"Library File Fail!", false};
    case kTooManyLibraries:
        return {kTooManyLibrariesMessage, false};
    default:
        return {nullptr, false};
    }
}

std::string ExportQuestion(std::size_t count, const std::vector<std::string>& gone, bool mirrorEmpty) {
    std::string text = "Export replaces all libraries on the instrument with the " + std::to_string(count) +
                       (count == 1 ? " ticked one. Continue?" : " ticked ones. Continue?");
    if (mirrorEmpty) {
        text += "\n\nImport Device Library first to see which libraries the instrument holds now.";
        return text;
    }
    if (gone.empty()) return text;
    // A long list would push the buttons off the screen; the count still tells.
    constexpr std::size_t kNamesShown = 15;
    text += "\n\nThese libraries will be gone from the instrument:";
    for (std::size_t i = 0; i < gone.size() && i < kNamesShown; ++i)
        text += "\n" + gone[i];
    if (gone.size() > kNamesShown) text += "\nand " + std::to_string(gone.size() - kNamesShown) + " more";
    return text;
}

const char* ExportSelectionRefusal(std::size_t selected) {
    return selected > kMaxExportSelection ? kTooManyLibrariesMessage : nullptr;
}

std::string DeviceMirrorFileName(std::uint32_t position, const std::string& name) {
    char number[16];
    std::snprintf(number, sizeof number, "%05u", static_cast<unsigned>(position));
    std::string file = number;
    std::string shown = DisplayName(name);
    if (!shown.empty()) file.push_back(' ');
    for (unsigned char c : shown) {
        bool unsafe = c < 0x20 || c == 0x7F ||
                      std::string_view("/\\*?<>:\"|").find(static_cast<char>(c)) != std::string_view::npos;
        file.push_back(unsafe ? '_' : static_cast<char>(c));
    }
    return file + kLibraryExtension;
}

std::string ConvertPcLibraryToRecord(std::string_view pcFile) {
    std::string record(kDeviceRecordSize, '\0');
    if (pcFile.size() < kPcLibrarySize) return {};
    auto* out = reinterpret_cast<std::uint8_t*>(record.data());
    const auto* in = reinterpret_cast<const std::uint8_t*>(pcFile.data());
    std::copy_n(in, kHeaderSize, out);
    for (std::size_t p = 0; p < 2 * kDeviceRecordPoints; ++p) {
        double a = GetF32(in + kHeaderSize + 8 * p);
        double b = GetF32(in + kHeaderSize + 8 * p + 4);
        double mean = (a + b) * 0.5;
        std::uint16_t v = 0;
        // Only finite, non-negative means give a value; the low 16 bits of it
        // are stored, as the instrument's format has always done.
        if (mean >= 0.0 && std::isfinite(mean))
            v = static_cast<std::uint16_t>(static_cast<std::uint64_t>(std::min(mean, 1.8e19)) & 0xFFFF);
        if (p >= kDeviceRecordPoints) v = static_cast<std::uint16_t>((10u * v) % 65536u);
        PutU16(out + kHeaderSize + 2 * p, v);
    }
    return record;
}

std::uint8_t importFromDevice(const TransferContext& ctx) {
    if (ctx.device.deviceState != DeviceConnection::Connected) return 10;
    DeviceFileAccess file(ctx.link, ctx.clock, ctx.stop);
    std::uint32_t size = 0;
    FileAccessResult step = file.select(kDeviceLibraryPath, true, size);
    if (step != FileAccessResult::Success) return static_cast<std::uint8_t>(step);
    if ((step = file.request(wire::kDirectionRead, size)) != FileAccessResult::Success)
        return static_cast<std::uint8_t>(step);

    std::uint8_t result = 10;
    std::uint32_t chunks = size / wire::kMaxChunk + (size % wire::kMaxChunk != 0 ? 1 : 0);
    std::uint32_t rest = size % wire::kMaxChunk;
    std::array<std::uint8_t, kDeviceRecordSize> record{};
    std::uint32_t k = 0;
    std::uint32_t position = 0;
    for (std::uint32_t i = 0; i < chunks; ++i) {
        if (ctx.stopRequested()) return 7; // closing: leave the device's file as it is
        std::uint32_t n = (i + 1 == chunks && rest != 0) ? rest : wire::kMaxChunk;
        std::array<std::uint8_t, wire::kMaxChunk> chunk{};
        if (!ctx.link.TransferChunk(wire::kDirectionRead, chunk.data(), n)) {
            result = 7;
            break;
        }
        if (!WaitAfterChunk(ctx)) {
            result = 8;
            break;
        }
        std::copy_n(chunk.begin(), n, record.begin() + wire::kMaxChunk * k);
        if (k + 1 == kRecordChunks) {
            SetProgress(ctx, (100u * i + 100u) / chunks);
            if (!WriteRecord(ctx, ++position, record)) result = kLocalLibraryFailed;
            record.fill(0);
            k = 0;
        } else {
            ++k;
        }
    }
    if (ctx.stopRequested()) return result;
    if (file.close() != FileAccessResult::Success) return 9;
    return result == 10 ? 0 : result;
}

std::uint8_t exportToDevice(const TransferContext& ctx, const std::vector<std::string>& files) {
    LibraryState& library = ctx.library;
    const DeviceInfo& device = ctx.device;
    if (device.deviceState != DeviceConnection::Connected) return 10;
    if (files.size() > kMaxExportSelection) return kTooManyLibraries;
    LibraryView view = library.lib.libraryView;

    // Every selected library is read and converted before anything is sent,
    // so a file that vanished since the listing is skipped cleanly and the
    // size announced to the instrument is exactly what follows.
    std::uint8_t result = 10;
    std::vector<std::string> records;
    for (const std::string& name : files) {
        std::string content;
        if (!FolderEntryName(name) ||
            ReadFile(library.lib.libraryFolder + name, content, {.maxBytes = 1u << 20, .withinFolder = true}) !=
                LoadResult::Loaded ||
            content.size() < LibraryFileSize(view)) {
            result = kLocalLibraryFailed;
            continue;
        }
        records.push_back(view == LibraryView::Pc ? ConvertPcLibraryToRecord(content)
                                                  : content.substr(0, kDeviceRecordSize));
    }
    if (records.empty() && !files.empty()) return kLocalLibraryFailed; // nothing left: the store stays as it was

    DeviceFileAccess file(ctx.link, ctx.clock, ctx.stop);
    std::uint32_t ignored = 0;
    FileAccessResult step = file.select(kDeviceLibraryPath, false, ignored);
    if (step != FileAccessResult::Success) return static_cast<std::uint8_t>(step);
    auto total = static_cast<std::uint32_t>(records.size() * kDeviceRecordSize);
    if ((step = file.request(wire::kDirectionWrite, total)) != FileAccessResult::Success)
        return static_cast<std::uint8_t>(step);

    // The instrument replaces its store with what it received when the file
    // is closed. After a chunk that failed or timed out, whatever followed
    // would land at the wrong place, and closing would commit a store with a
    // hole: the export stops there and leaves the file unclosed, so the
    // instrument keeps the store it had.
    bool chunkFailed = false;
    for (std::size_t j = 0; j < records.size() && !chunkFailed; ++j) {
        SetProgress(ctx, static_cast<std::uint32_t>((100u * j + 100u) / records.size()));
        auto* data = reinterpret_cast<std::uint8_t*>(records[j].data());
        for (std::uint32_t k = 0; k < kRecordChunks; ++k) {
            if (ctx.stopRequested()) return 7; // closing: the store is left uncommitted
            if (!ctx.link.TransferChunk(wire::kDirectionWrite, data + wire::kMaxChunk * k, wire::kMaxChunk)) {
                result = 7;
                chunkFailed = true;
                break;
            }
            if (!WaitAfterChunk(ctx)) {
                result = 8;
                chunkFailed = true;
                break;
            }
        }
    }
    if (ctx.stopRequested()) return 7; // closing: the store is left uncommitted
    if (chunkFailed) return result;
    if (file.close() != FileAccessResult::Success) return 9;
    return result == 10 ? 0 : result;
}

void RunTransfer(const TransferContext& ctx) {
    LibraryState& library = ctx.library;
    std::uint8_t result =
        library.lib.transferDirection == 0 ? exportToDevice(ctx, library.lib.exportFiles) : importFromDevice(ctx);
    library.lib.transferResult.store(result, std::memory_order_relaxed);
    library.lib.transferStatus.store(result == 0 ? 1 : 3, std::memory_order_relaxed);
    library.transferState.store(2, std::memory_order_release);
}

} // namespace veltrane
