#include "cli/report_module.h"

#include <dlfcn.h>

#include <filesystem>

#include "platform/paths.h"

namespace veltrane {

std::string ReportModulePath() {
    // Never a path relative to the working folder: code would be loaded from
    // wherever the command happens to run.
    const std::filesystem::path program = ExecutablePath();
    if (!program.is_absolute()) return {};
    return (program.parent_path().parent_path() / "lib" / "veltrane" / "veltrane-report.so").string();
}

namespace {

// Loaded once and never unloaded: Qt leaves handlers and threads behind that
// must not outlive their code.
ReportModuleDraw LoadedDraw(std::string& error) {
    static ReportModuleDraw draw = nullptr;
    static std::string failure;
    static bool tried = false;
    if (!tried) {
        tried = true;
        const std::string path = ReportModulePath();
        if (path.empty()) {
            failure = "the report module could not be found (the program's own path is unknown)";
        } else if (void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
            draw = reinterpret_cast<ReportModuleDraw>(::dlsym(module, kReportModuleSymbol));
            if (!draw) failure = "the report module has no drawing function (" + path + ")";
        } else {
            const char* why = ::dlerror();
            failure = "the report module could not be loaded (" + std::string(why ? why : path.c_str()) + ")";
        }
    }
    error = failure;
    return draw;
}

} // namespace

bool ReportModuleReady(std::string& error) {
    return LoadedDraw(error) != nullptr;
}

bool DrawReportPdf(const IdentificationReport& report, ReportPaper paper, std::string& pdf, std::string& error) {
    const ReportModuleDraw draw = LoadedDraw(error);
    if (!draw) return false;
    const std::string tag = ReportModuleTag();
    pdf.clear();
    switch (draw(tag.c_str(), &report, paper == ReportPaper::Letter ? 1 : 0, &pdf)) {
    case kReportDrawn:
        if (!pdf.empty()) return true;
        break;
    case kReportOtherBuild:
        error = "the report module belongs to another build of Veltrane (" + ReportModulePath() + ")";
        return false;
    default:
        break;
    }
    pdf.clear();
    error = "the page could not be drawn";
    return false;
}

} // namespace veltrane
