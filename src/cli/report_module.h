#pragma once

#include <string>

#include "identify/report.h"
#include "shared/program_constants.h"

namespace veltrane {

// The report page is drawn by Qt, whose GUI libraries take tens of
// milliseconds to load; linked into the tool, every command would pay that at
// start. So the drawing lives in a module beside the tool (in the build tree
// and installed alike, lib/veltrane/ next to bin/), loaded only when a report
// is asked for. Empty when the program cannot tell where it lies.
std::string ReportModulePath();

// Whether the module loads; the reason in `error` when it does not.
bool ReportModuleReady(std::string& error);

// The page as the bytes of a one-page PDF; false, with the reason in `error`,
// when the module cannot be loaded or the page cannot be drawn.
bool DrawReportPdf(const IdentificationReport& report, ReportPaper paper, std::string& pdf, std::string& error);

// What the module exports: it must be built from the same sources as the tool
// that loads it, as the report crosses between them as a C++ object. The tag
// (the version and the report's size) keeps a stray module of another build
// from being handed an object it would misread.
// Returns one of ReportModuleResult.
using ReportModuleDraw = int (*)(const char* tag, const IdentificationReport* report, int paper, std::string* pdf);
enum ReportModuleResult : int { kReportDrawn = 0, kReportNotDrawn = 1, kReportOtherBuild = 2 };
inline constexpr const char* kReportModuleSymbol = "veltrane_report_pdf";
inline std::string ReportModuleTag() {
    return std::string(kVersionText) + "/" + std::to_string(sizeof(IdentificationReport)) + "/" +
           std::to_string(sizeof(ReportHit)) + "/" + std::to_string(sizeof(SampleInfo));
}

} // namespace veltrane
