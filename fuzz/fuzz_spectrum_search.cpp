// The search of a library for an unknown spectrum, and the mixture search
// after it (src/identify/hqi.*, mixture.*): any spectrum a reader lets
// through reaches them, as the unknown or as a library entry, so both are
// given a few spectra of arbitrary shape (peaks, slopes, steps, constant
// stretches, unsorted and repeated shifts, non-finite values). Whatever
// they are, the scores stay on the HQI scale, the hits name entries of the
// library once each, best first, and a mixture's shares are those of real
// components that add up to the whole.

#include <cmath>
#include <set>
#include <vector>

#include "fuzz_support.h"
#include "identify/hqi.h"
#include "identify/mixture.h"
#include "identify/preprocess.h"

using namespace veltrane;

namespace {

void Spectrum(fuzz::InputReader& in, std::vector<double>& x, std::vector<double>& y) {
    const std::size_t count = 2 + (in.u16() + 598) % 2400;
    const double start = static_cast<int>(in.u16() % 400) - 100;
    const double step = in.flag() ? 0.25 + (in.byte() % 64) / 8.0 : 1.0;
    const int shape = in.byte();
    x.resize(count);
    y.assign(count, 0.0);
    for (std::size_t i = 0; i < count; ++i)
        x[i] = start + step * static_cast<double>(i);
    if (shape & 1) // a few points moved, repeated or out of order
        for (int k = in.byte() % 8; k-- > 0;)
            x[in.u16() % count] = start + (in.u16() % 4000) - 100.0;
    if (shape & 2) // a background
        for (std::size_t i = 0; i < count; ++i)
            y[i] += (in.byte() % 16) * 0.01 * static_cast<double>(i) + in.byte() % 4;
    for (int k = 1 + in.byte() % 12; k-- > 0;) { // bands
        const double at = x[(count / 2 + in.u16()) % count], height = 1 + in.u16(), width = 0.5 + in.byte() % 40;
        for (std::size_t i = 0; i < count; ++i)
            y[i] += height * std::exp(-0.5 * std::pow((x[i] - at) / width, 2));
    }
    if (shape & 4) // noise and spikes straight from the input
        for (std::size_t i = 0; i < count && in.remaining() > 0; i += 1 + in.byte() % 16)
            y[i] += static_cast<std::int8_t>(in.byte()) * (shape & 8 ? 1000.0 : 1.0);
    if (shape & 16) // a flat stretch: clipped, or all zero
        for (std::size_t i = in.u16() % count, n = in.u16() % count; i < count && n-- > 0; ++i)
            y[i] = shape & 32 ? 0.0 : 65535.0;
    if (shape & 64) { // values that are not numbers
        y[in.u16() % count] = in.flag() ? NAN : INFINITY;
        x[in.u16() % count] = in.flag() ? NAN : -INFINITY;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::InputReader in(data, size);
    std::vector<double> x, y;
    PreparedLibrary library;
    const std::size_t entries = 2 + in.byte() % 5;
    for (std::size_t e = 0; e < entries; ++e) {
        Spectrum(in, x, y);
        GridSpectrum prepared = PrepareSpectrum(x, y);
        if (prepared.values.empty()) continue;
        const GridSpectrum form = CompressedForComparison(std::move(prepared));
        library.add(form.start, form.values.data(), form.values.size());
    }
    Spectrum(in, x, y);
    const UnknownSpectrum unknown = PrepareUnknown(x, y);
    if (unknown.grid.values.empty() || library.size() == 0) return 0;
    SearchRange range;
    if (in.flag()) {
        range.low = in.u16() % 1000;
        range.high = range.low + in.u16() % 4000;
    }

    const Ranking ranking = RankLibrary(unknown, library, range);
    std::set<std::size_t> seen;
    for (std::size_t i = 0; i < ranking.hits.size(); ++i) {
        const RankedHit& hit = ranking.hits[i];
        FUZZ_CHECK(hit.entry < library.size() && seen.insert(hit.entry).second);
        FUZZ_CHECK(hit.hqi >= 0.0 && hit.hqi <= 100.0);
        FUZZ_CHECK(i == 0 || ranking.hits[i - 1].hqi >= hit.hqi);
    }
    for (std::size_t skipped : ranking.tooFewPoints)
        FUZZ_CHECK(skipped < library.size() && !seen.count(skipped));

    MixtureSettings settings;
    settings.maxComponents = 1 + in.byte() % 3;
    const auto mixture = FindMixture(unknown, library, ranking, range, settings);
    if (!mixture) return 0;
    FUZZ_CHECK(!mixture->components.empty() && mixture->components.size() <= settings.maxComponents);
    FUZZ_CHECK(mixture->fitHqi >= 0.0 && mixture->fitHqi <= 100.0);
    FUZZ_CHECK(mixture->singleHqi >= 0.0 && mixture->singleHqi <= 100.0);
    FUZZ_CHECK(mixture->hqiBySize.size() == mixture->componentsBySize.size());
    for (const auto& components : mixture->componentsBySize) {
        double total = 0.0;
        std::set<std::size_t> members;
        for (std::size_t i = 0; i < components.size(); ++i) {
            const MixtureComponent& c = components[i];
            FUZZ_CHECK(c.entry < library.size() && members.insert(c.entry).second);
            FUZZ_CHECK(c.share >= 0.0 && c.share <= 1.0 && c.weight > 0.0 && std::isfinite(c.weight));
            FUZZ_CHECK(i == 0 || components[i - 1].share >= c.share);
            total += c.share;
        }
        FUZZ_CHECK(std::fabs(total - 1.0) < 1e-9);
    }
    const auto& chosen = mixture->componentsBySize[mixture->components.size() - 1];
    for (std::size_t i = 0; i < chosen.size(); ++i)
        FUZZ_CHECK(mixture->components[i].entry == chosen[i].entry && mixture->components[i].share == chosen[i].share);
    FUZZ_CHECK(!MixtureText(*mixture, [](std::size_t) { return std::string("x"); }).empty());
    return 0;
}
