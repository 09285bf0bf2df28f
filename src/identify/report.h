#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "identify/hqi.h"
#include "identify/library_index.h"
#include "identify/verdict.h"
#include "library/library_file.h"
#include "measure/sample_info.h"
#include "shared/chart_model.h"

namespace veltrane {

// One page that files a result: what was measured, how, on what, and what
// the library search answered. Everything is text already as printed, so
// the window and the command line give the same page; only the laying out
// and drawing are left to the page renderer.
struct ReportHit {
    std::string rank, hqi, name, model, date, library;
};

struct IdentificationReport {
    std::string title = "Identification report";
    SampleInfo sample;
    // Label and value, in the order printed: the measurement, the
    // instrument and its settings, the axis check.
    std::vector<std::pair<std::string, std::string>> facts;
    std::string verdictWord;  // "Match", "Possible match", "No match"
    std::string verdictText;  // as identification words it
    std::string verdictScore; // the score and the margin to the runner-up
    std::string saturation;   // empty when the capture did not clip
    std::vector<ReportHit> hits;             // best first, at most kReportHits
    std::vector<std::string> libraries;      // "local/ (12 entries)"
    std::vector<ChartPoint> sampleCurve;     // baseline removed, highest point 1
    std::vector<ChartPoint> hitCurve;        // the best hit on the same scale
    std::string hitTitle;                    // the best hit's name, for the legend
    std::string footer;                      // the program and its version, the time the report was made
};

constexpr std::size_t kReportHits = 10;
enum class ReportPaper : std::uint8_t { A4, Letter };

// What the page says of the measurement, gathered by its caller (the window
// from the capture and the instrument; the command line from the file).
struct ReportMeasurement {
    SampleInfo sample;
    std::string measured;        // when the spectrum was measured, as the file or capture gives it
    std::string instrument;      // model
    std::string serial;          // empty when not known
    std::optional<double> laserNm;
    std::optional<std::uint32_t> integrationMs;
    std::optional<unsigned> averages;
    std::optional<int> smoothing;
    std::string axisCheck;       // AxisCheckSummary, or "not checked"
    std::size_t saturatedPixels = 0;
    std::string source;          // the file the spectrum came from, empty for a capture
    BrandVariant brand = kBrandVariant; // how library model codes are named
};

// "2026-12-09 23:16:04 CET (UTC+01:00)": local time with its zone.
std::string ReportTimeText(std::time_t when);

// The verdict with the names it speaks of. It is decided on the whole
// ranking, which may be longer than the hits a caller keeps.
struct NamedVerdict {
    IdentifyVerdict verdict;
    std::string best, runnerUp;
    double runnerUpHqi = 0.0;
};
NamedVerdict NameVerdict(const std::vector<RankedHit>& hits, const IndexedLibrary& library);

// The page for a search of the `searched` folders: `hits` (best first) as
// RankLibrary ranked them over `library`, `verdict` as decided on them.
// `unknown` is the sample as identification prepared it; `now` is when the
// report is made.
IdentificationReport AssembleReport(const ReportMeasurement& measurement, const UnknownSpectrum& unknown,
                                    const IndexedLibrary& library, const std::vector<RankedHit>& hits,
                                    const NamedVerdict& verdict, const std::vector<std::string>& searched,
                                    std::time_t now);

// The sample and an entry over the part of the axis both cover, each in
// intensities (the comparison form holds square roots) scaled so its
// highest point within the search range is `height`.
struct HitOverlay {
    std::vector<ChartPoint> sample;
    std::vector<ChartPoint> hit;
};
std::optional<HitOverlay> OverlayOf(const UnknownSpectrum& unknown, const IndexedLibrary& library, std::size_t entry,
                                    double height);

// Notes longer than this many characters are cut with "…": the page has
// room for a few lines of them and never spills onto a second.
constexpr std::size_t kReportNotesLimit = 600;
std::string CutNotes(const std::string& notes);

} // namespace veltrane
