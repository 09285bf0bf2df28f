#include "interchange/interchange.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <numeric>

#include "interchange/delimited_text.h"
#include "interchange/jcamp.h"
#include "interchange/spc_file.h"
#include "interchange/text_values.h"

namespace veltrane {

double EvenX(double first, double last, std::size_t n, std::size_t i) {
    if (n < 2) return first;
    return first + (last - first) * static_cast<double>(i) / static_cast<double>(n - 1);
}

bool EvenlySpaced(const std::vector<float>& x, double tolerance) {
    const std::size_t n = x.size();
    // Two points are always evenly spaced, but their X must still come back
    // from first and last as a reader computes them (a tiny last X does not).
    if (n < 2) return true;
    const double first = x.front(), last = x.back();
    const double step = std::fabs(last - first) / static_cast<double>(n - 1);
    for (std::size_t i = 0; i < n; ++i) {
        double even = EvenX(first, last, n, i);
        if (tolerance == 0.0 ? static_cast<float>(even) != x[i] : std::fabs(even - x[i]) > tolerance * step)
            return false;
    }
    return true;
}

bool RamanIntensityUnits(const std::string& yUnits) {
    const std::string plain = PlainName(yUnits);
    if (plain.empty()) return true;
    for (const char* other : {"absorb", "transm", "reflect", "kubelka", "log"})
        if (plain.find(other) != std::string::npos) return false;
    for (const char* word : {"count", "intensity", "arbitrary", "arb", "au", "cps", "photon", "signal"})
        if (plain.find(word) != std::string::npos) return true;
    return false;
}

double RamanShiftOfWavelength(double nm, double laserNm) {
    return 1e7 / laserNm - 1e7 / nm;
}

InterchangeSpectrum ResampledEvenly(const InterchangeSpectrum& s, std::size_t count) {
    // What the file said of the measurement stays with the new points: the
    // whole is copied, so no fact added to the spectrum later is dropped here.
    InterchangeSpectrum out = s;
    out.x.clear();
    out.y.clear();
    const std::size_t n = std::min(s.x.size(), s.y.size());
    if (n == 0 || count == 0) return out;
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return s.x[a] < s.x[b]; });
    const double first = s.x[order.front()], last = s.x[order.back()];
    out.x.resize(count);
    out.y.resize(count);
    std::size_t k = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const double x = EvenX(first, last, count, i);
        while (k + 2 < n && s.x[order[k + 1]] <= x)
            ++k;
        const std::size_t next = std::min(k + 1, n - 1);
        const double x0 = s.x[order[k]], x1 = s.x[order[next]];
        const double y0 = s.y[order[k]], y1 = s.y[order[next]];
        out.x[i] = static_cast<float>(x);
        out.y[i] = static_cast<float>(x1 > x0 ? y0 + (y1 - y0) * (x - x0) / (x1 - x0) : y0);
    }
    return out;
}

InterchangeFormat FormatOfFileName(const std::string& fileName) {
    std::string ext = std::filesystem::path(fileName).extension().string();
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (ext == ".rsd") return InterchangeFormat::Raw;
    if (ext == ".csv" || ext == ".txt" || ext == ".tsv") return InterchangeFormat::Csv;
    if (ext == ".jdx" || ext == ".dx" || ext == ".jcamp") return InterchangeFormat::Jcamp;
    if (ext == ".spc") return InterchangeFormat::Spc;
    return InterchangeFormat::Unknown;
}

ReadOutcome ReadInterchangeSpectrum(std::string_view bytes, InterchangeFormat format, double laserNm,
                                    InterchangeSpectrum& spectrum, const ColumnChoice& columns) {
    std::string utf8;
    const bool text = format == InterchangeFormat::Csv || format == InterchangeFormat::Jcamp;
    if (text && Utf8OfUtf16(bytes, utf8)) bytes = utf8;
    switch (format) {
    case InterchangeFormat::Csv:
        return ReadDelimitedSpectrum(bytes, laserNm, columns, spectrum);
    case InterchangeFormat::Jcamp:
        return ReadJcampSpectrum(bytes, laserNm, spectrum);
    case InterchangeFormat::Spc:
        return ReadSpcSpectrum(bytes, laserNm, spectrum);
    case InterchangeFormat::Raw:
    case InterchangeFormat::Unknown:
        break;
    }
    ReadOutcome outcome;
    outcome.message = "Unknown file format!";
    return outcome;
}

} // namespace veltrane
