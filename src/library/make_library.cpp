#include "library/make_library.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>

#include "device/device_info.h"
#include "library/library_file.h"
#include "library/library_state.h"
#include "measure/measurement_session.h"
#include "measure/spectral_axis.h"
#include "platform/file_io.h"
#include "platform/folder_listing.h"
#include "shared/window_rules.h"

namespace veltrane {

namespace {

struct LibraryDraft {
    SpectrumHeader header;
    std::array<float, kPcLibraryPoints> intensity{};
    std::array<float, kPcLibraryPoints> axis{};
};

// A raw file brings its own header, reserved bytes and model code included,
// and its Raman shifts; its intensities are taken as they were saved.
void FromRawFile(const MeasurementSession& session, LibraryDraft& out) {
    out.header = session.rawFile.header;
    std::copy_n(session.spectrum.axis.begin(), kPcLibraryPoints, out.axis.begin());
    std::copy_n(session.spectrum.signal.begin(), kPcLibraryPoints, out.intensity.begin());
}

void FromMeasurement(const MeasurementSession& session, const DeviceInfo& device, LibraryDraft& out) {
    out.header = SpectrumHeader{};
    out.header.setModelCode(device.deviceType);
    // A library is made only with a calibration, and then the chart shows a
    // 256-pixel instrument's spectrum against Raman shift too: the library
    // holds what was shown, as one made from a saved raw file does.
    bool ramanShift = device.deviceType == 179 || device.deviceType == 180 || device.deviceType == 1;
    // 0 nm would make every shift infinite; the display and the raw files
    // read it as the default laser line, and so does the library.
    float laser = device.laserWavelength > 0.0f && std::isfinite(device.laserWavelength) ? device.laserWavelength
                                                                                         : kDefaultLaserNm;
    float kL = static_cast<float>(1e7 / static_cast<double>(laser));
    const auto& c = device.waveCal;
    std::size_t pixels = std::min<std::size_t>(device.pixelCount, kPcLibraryPoints);
    for (std::size_t i = 0; i < pixels; ++i) {
        double x = static_cast<double>(i);
        double lambda = static_cast<double>(c[0]) + static_cast<double>(c[1]) * x + static_cast<double>(c[2]) * x * x +
                        static_cast<double>(c[3]) * x * x * x + static_cast<double>(c[4]) * x * x * x * x;
        float stored = static_cast<float>(lambda);
        if (!ramanShift) {
            out.axis[i] = stored;
            continue;
        }
        // With the instrument's axis correction, as the chart draws it: a
        // library made now must match this instrument's corrected captures.
        double shift = static_cast<double>(kL) - 1e7 / static_cast<double>(stored);
        if (device.axisCorrection) shift = CorrectedShift(*device.axisCorrection, shift);
        out.axis[i] = static_cast<float>(shift);
    }
    for (std::size_t i = 0; i < kPcLibraryPoints; ++i) {
        float value = session.spectrum.signal[i] - session.spectrum.dark[i];
        out.intensity[i] = value > 0.0f ? value : 0.0f;
    }
}

} // namespace

const char* MakeLibraryRefusal(const MeasurementSession& session, const DeviceInfo& device) {
    if (MeasurementBusy(session)) return kMeasureProcessingMessage;
    const SpectrumStore& s = session.spectrum;
    if (!s.haveMeasured && !s.haveFileData) return kNoDataToMakeLibrary;
    if (s.haveMeasured && !device.waveCalValid) return kNoWaveCalibration;
    return nullptr;
}

namespace {

// The checks run in the order folder, existing name, length, file-name
// validity, so a long name that exists is reported as existing.
MakeLibraryResult MakeEntry(const std::string& name, const MeasurementSession& session, const DeviceInfo& device,
                            const std::string& pcFolder, const LocalDateTime& now, std::set<std::string>* batchTaken) {
    // Some 20 kB of working data: kept off the GUI thread's stack.
    auto points = std::make_unique<LibraryDraft>();
    if (session.spectrum.haveFileData)
        FromRawFile(session, *points);
    else
        FromMeasurement(session, device, *points);
    points->header.setDateTime(now);

    if (!batchTaken && !EnsureFolder(pcFolder)) return MakeLibraryResult::FolderFailed;
    std::string path = LibraryFilePath(pcFolder, name);
    const std::string fileName = name + kLibraryExtension;
    if (batchTaken ? batchTaken->count(LowerCase(fileName)) > 0 : LibraryFileTaken(pcFolder, fileName))
        return MakeLibraryResult::NameExists;
    if (name.size() > kNameFieldSize) return MakeLibraryResult::NameTooLong;
    if (!ValidLibraryName(name)) return MakeLibraryResult::InvalidName;

    points->header.setName(name);
    if (batchTaken) {
        if (!WriteFileAtomicallyInBatch(path, EncodePcLibraryFile(points->header, points->intensity.data(),
                                                                  points->axis.data())))
            return MakeLibraryResult::WriteFailed;
        batchTaken->insert(LowerCase(fileName));
    } else if (!WritePcLibraryFile(path, points->header, points->intensity.data(), points->axis.data())) {
        return MakeLibraryResult::WriteFailed;
    }
    return MakeLibraryResult::Made;
}

} // namespace

MakeLibraryResult MakeLibrary(const std::string& name, const MeasurementSession& session, const DeviceInfo& device,
                              LibraryState& library, const std::string& pcFolder, const LocalDateTime& now) {
    MakeLibraryResult result = MakeEntry(name, session, device, pcFolder, now, nullptr);
    if (result == MakeLibraryResult::Made && library.lib.libraryView == LibraryView::Pc) library.lib.libraryMade = 1;
    return result;
}

MakeLibraryResult MakeLibraryInBatch(const std::string& name, const MeasurementSession& session,
                                     const DeviceInfo& device, const std::string& pcFolder, const LocalDateTime& now,
                                     std::set<std::string>& takenLowerCase) {
    if (!EnsureFolder(pcFolder)) return MakeLibraryResult::FolderFailed;
    return MakeEntry(name, session, device, pcFolder, now, &takenLowerCase);
}

std::string LowerCase(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::set<std::string> LowerCaseFileNames(const std::string& folder) {
    std::set<std::string> names;
    for (const std::string& entry : ListMatching(folder, "*"))
        names.insert(LowerCase(entry));
    return names;
}

std::string ResampledForLibraryNotice(const MeasurementSession& session) {
    const SpectrumStore& s = session.spectrum;
    if (!ShowsForeignSpectrum(s) || s.foreignAxis.size() <= kPcLibraryPoints) return {};
    return std::to_string(s.foreignAxis.size()) + " points resampled to " + std::to_string(kPcLibraryPoints) + ".";
}

LibraryMessage MakeLibraryMessage(MakeLibraryResult result) {
    switch (result) {
    case MakeLibraryResult::Made:
        return {kCompletionMessage, MessageIcon::None};
    case MakeLibraryResult::FolderFailed:
        return {"Can not creat folder!", MessageIcon::Warning};
    case MakeLibraryResult::NameExists:
        return {"File name existed", MessageIcon::Warning};
    case MakeLibraryResult::NameTooLong:
        return {"File name over 64 word", MessageIcon::Warning};
    case MakeLibraryResult::InvalidName:
        return {kInvalidNameMessage, MessageIcon::Warning};
    case MakeLibraryResult::WriteFailed:
        return {kSaveFailed, MessageIcon::Warning};
    }
    return {kSaveFailed, MessageIcon::Warning};
}

} // namespace veltrane
