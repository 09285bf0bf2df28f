#include "library/make_library.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>

#include "app/program_state.h"
#include "shared/window_rules.h"
#include "library/library_file.h"
#include "measure/spectral_axis.h"
#include "platform/folder_listing.h"

namespace veltrane {

namespace {

struct LibraryDraft {
    SpectrumHeader header;
    std::array<float, kPcLibraryPoints> intensity{};
    std::array<float, kPcLibraryPoints> axis{};
};

// A raw file brings its own header, reserved bytes and model code included,
// and its Raman shifts; its intensities are taken as they were saved.
void FromRawFile(const ProgramState& state, LibraryDraft& out) {
    out.header = state.rawFile.header;
    std::copy_n(state.spectrum.axis.begin(), kPcLibraryPoints, out.axis.begin());
    std::copy_n(state.spectrum.signal.begin(), kPcLibraryPoints, out.intensity.begin());
}

void FromMeasurement(const ProgramState& state, LibraryDraft& out) {
    out.header = SpectrumHeader{};
    out.header.setModelCode(state.deviceType);
    // A library is made only with a calibration, and then the chart shows a
    // 256-pixel instrument's spectrum against Raman shift too: the library
    // holds what was shown, as one made from a saved raw file does.
    bool ramanShift = state.deviceType == 179 || state.deviceType == 180 || state.deviceType == 1;
    // 0 nm would make every shift infinite; the display and the raw files
    // read it as the default laser line, and so does the library.
    float laser =
        state.laserWavelength > 0.0f && std::isfinite(state.laserWavelength) ? state.laserWavelength : kDefaultLaserNm;
    float kL = static_cast<float>(1e7 / static_cast<double>(laser));
    const auto& c = state.waveCal;
    std::size_t pixels = std::min<std::size_t>(state.pixelCount, kPcLibraryPoints);
    for (std::size_t i = 0; i < pixels; ++i) {
        double x = static_cast<double>(i);
        double lambda = static_cast<double>(c[0]) + static_cast<double>(c[1]) * x + static_cast<double>(c[2]) * x * x +
                        static_cast<double>(c[3]) * x * x * x + static_cast<double>(c[4]) * x * x * x * x;
        float stored = static_cast<float>(lambda);
        out.axis[i] =
            ramanShift ? static_cast<float>(static_cast<double>(kL) - 1e7 / static_cast<double>(stored)) : stored;
    }
    for (std::size_t i = 0; i < kPcLibraryPoints; ++i) {
        float value = state.spectrum.signal[i] - state.spectrum.dark[i];
        out.intensity[i] = value > 0.0f ? value : 0.0f;
    }
}

} // namespace

const char* MakeLibraryRefusal(const ProgramState& state) {
    if (MeasurementBusy(state)) return kMeasureProcessingMessage;
    const SpectrumStore& s = state.spectrum;
    if (!s.haveMeasured && !s.haveFileData) return kNoDataToMakeLibrary;
    if (s.haveMeasured && !state.waveCalValid) return kNoWaveCalibration;
    return nullptr;
}

MakeLibraryResult MakeLibrary(const std::string& name, ProgramState& state, const std::string& pcFolder,
                              const LocalDateTime& now) {
    // Some 20 kB of working data: kept off the GUI thread's stack.
    auto points = std::make_unique<LibraryDraft>();
    if (state.spectrum.haveFileData)
        FromRawFile(state, *points);
    else
        FromMeasurement(state, *points);
    points->header.setDateTime(now);

    if (!EnsureFolder(pcFolder)) return MakeLibraryResult::FolderFailed;
    std::string path = LibraryFilePath(pcFolder, name);
    if (LibraryFileTaken(pcFolder, name + kLibraryExtension)) return MakeLibraryResult::NameExists;
    if (name.size() > kNameFieldSize) return MakeLibraryResult::NameTooLong;
    if (!ValidLibraryName(name)) return MakeLibraryResult::InvalidName;

    points->header.setName(name);
    if (!WritePcLibraryFile(path, points->header, points->intensity.data(), points->axis.data()))
        return MakeLibraryResult::WriteFailed;
    if (state.lib.libraryView == LibraryView::Pc) state.lib.libraryMade = 1;
    return MakeLibraryResult::Made;
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
