#include "identify/report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

#include "shared/program_constants.h"

namespace veltrane {

namespace {

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string OrNotRecorded(const std::string& text) { return text.empty() ? "not recorded" : text; }

} // namespace

std::string ReportTimeText(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char text[96];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S %Z", &local);
    // The offset as well: zone abbreviations are ambiguous across countries.
    char offset[16];
    std::strftime(offset, sizeof offset, "%z", &local);
    std::string z = offset; // "+0100"
    if (z.size() == 5) z = z.substr(0, 3) + ":" + z.substr(3);
    return std::string(text) + " (UTC" + z + ")";
}

std::string CutNotes(const std::string& notes) {
    if (notes.size() <= kReportNotesLimit) return notes;
    std::size_t cut = kReportNotesLimit;
    // Not inside a UTF-8 sequence.
    while (cut > 0 && (static_cast<unsigned char>(notes[cut]) & 0xC0) == 0x80)
        --cut;
    return notes.substr(0, cut) + "\u2026";
}

std::optional<HitOverlay> OverlayOf(const UnknownSpectrum& unknown, const IndexedLibrary& library, std::size_t entry,
                                    double height) {
    if (entry >= library.info.size() || unknown.grid.values.empty()) return std::nullopt;
    // Only the compact forms stay in memory; the entry's spectrum is read back.
    std::vector<std::vector<float>> full;
    library.prepared.fullValues({entry}, full);
    if (full.empty() || full[0].empty()) return std::nullopt;
    const SearchRange range;
    const GridSpectrum& grid = unknown.grid;
    auto curve = [&](std::int32_t start, const float* values, std::size_t count) {
        std::vector<ChartPoint> points;
        double top = 0.0;
        for (std::size_t k = 0; k < count; ++k) {
            std::int32_t x = start + static_cast<std::int32_t>(k);
            if (x >= range.low && x <= range.high) top = std::max(top, static_cast<double>(values[k]) * values[k]);
        }
        const double scale = top > 0.0 ? height / top : height;
        for (std::size_t k = 0; k < count; ++k) {
            std::int32_t x = start + static_cast<std::int32_t>(k);
            if (x >= std::max(range.low, grid.start) && x < std::min(range.high + 1, grid.end()))
                points.push_back({static_cast<double>(x), static_cast<double>(values[k]) * values[k] * scale});
        }
        return points;
    };
    HitOverlay overlay;
    overlay.sample = curve(grid.start, grid.values.data(), grid.values.size());
    overlay.hit = curve(library.prepared.start(entry), full[0].data(), full[0].size());
    return overlay;
}

NamedVerdict NameVerdict(const std::vector<RankedHit>& hits, const IndexedLibrary& library) {
    NamedVerdict named;
    named.verdict =
        DecideVerdict(hits, [&](std::size_t entry) -> const std::string& { return library.info[entry].name; });
    if (named.verdict.best) named.best = library.info[hits[*named.verdict.best].entry].name;
    if (named.verdict.runnerUp) {
        named.runnerUp = library.info[hits[*named.verdict.runnerUp].entry].name;
        named.runnerUpHqi = hits[*named.verdict.runnerUp].hqi;
    }
    return named;
}

IdentificationReport AssembleReport(const ReportMeasurement& m, const UnknownSpectrum& unknown,
                                    const IndexedLibrary& library, const std::vector<RankedHit>& hits,
                                    const NamedVerdict& named, const std::vector<std::string>& searched,
                                    std::time_t now) {
    IdentificationReport r;
    r.sample = m.sample;
    r.sample.notes = CutNotes(m.sample.notes);
    auto fact = [&](const char* label, std::string value) { r.facts.emplace_back(label, std::move(value)); };
    fact("Measured", OrNotRecorded(m.measured));
    if (!m.source.empty()) fact("File", m.source);
    std::string instrument = OrNotRecorded(m.instrument);
    if (!m.serial.empty()) instrument += ", serial " + m.serial;
    fact("Instrument", instrument);
    fact("Laser wavelength", m.laserNm ? Fixed(*m.laserNm, 1) + " nm" : "not recorded");
    fact("Integration time", m.integrationMs ? std::to_string(*m.integrationMs) + " ms" : "not recorded");
    fact("Averages", m.averages ? std::to_string(*m.averages) : "not recorded");
    fact("Smoothing", !m.smoothing ? "not recorded" : *m.smoothing == 0 ? "none" : "level " + std::to_string(*m.smoothing));
    fact("Raman axis check", m.axisCheck.empty() ? "not checked" : m.axisCheck);
    if (m.saturatedPixels > 0)
        r.saturation = "Saturated: " + std::to_string(m.saturatedPixels) +
                       " pixels. Saturated spectrum: the result may be wrong.";

    if (hits.empty()) {
        r.verdictWord = VerdictWord(Verdict::NoMatch);
        r.verdictText = library.info.empty() ? kNoLibraryEntries : "No match";
    } else {
        const IdentifyVerdict& v = named.verdict;
        r.verdictWord = VerdictWord(v.verdict);
        r.verdictText = VerdictText(v, named.best, named.runnerUp, named.runnerUpHqi);
        r.verdictScore = "Best HQI " + Fixed(v.hqi, 2);
        r.verdictScore += v.runnerUp ? ", " + Fixed(v.margin, 2) + " ahead of " + named.runnerUp + " (" +
                                           Fixed(named.runnerUpHqi, 2) + ")"
                                     : ", no hit of another name";
        if (std::optional<HitOverlay> overlay = OverlayOf(unknown, library, hits.front().entry, 1.0)) {
            r.sampleCurve = std::move(overlay->sample);
            r.hitCurve = std::move(overlay->hit);
            r.hitTitle = library.info[hits.front().entry].name;
        }
    }
    for (std::size_t i = 0; i < std::min(hits.size(), kReportHits); ++i) {
        const IndexedEntryInfo& info = library.info[hits[i].entry];
        r.hits.push_back({std::to_string(i + 1), Fixed(hits[i].hqi, 2), info.name,
                          LibraryModelName(info.modelCode, m.brand), info.date, info.folder()});
    }
    // Each searched folder with its entries, an empty one too.
    std::vector<std::pair<std::string, std::size_t>> folders;
    for (const std::string& folder : searched)
        folders.emplace_back(IndexFolderKey(folder), 0);
    for (const IndexedEntryInfo& info : library.info) {
        const std::string folder = info.folder();
        auto at = std::find_if(folders.begin(), folders.end(), [&](const auto& f) { return f.first == folder; });
        if (at == folders.end())
            folders.emplace_back(folder, 1);
        else
            ++at->second;
    }
    for (const auto& [folder, count] : folders)
        r.libraries.push_back(folder + " (" + std::to_string(count) + (count == 1 ? " entry)" : " entries)"));
    r.footer = std::string("Veltrane ") + kVersionText + ", report made " + ReportTimeText(now);
    return r;
}

} // namespace veltrane
