// Identification: what a search costs. Baseline removal of one spectrum
// (with the same arPLS on Eigen's sparse Cholesky beside it, which is why
// the program solves the band by hand), ranking 10,000 prepared entries in
// memory, and veltrane-cli identify against an index of 10,000 library
// files: up to date, and built from nothing on both cores.

#include <benchmark/benchmark.h>

#include <Eigen/SparseCholesky>
#include <Eigen/SparseCore>
#include <cmath>
#include <filesystem>
#include <memory>
#include <random>
#include <sstream>

#include "cli/cli.h"
#include "identify/hqi.h"
#include "identify/library_index.h"
#include "identify/preprocess.h"
#include "library/library_file.h"
#include "support/synthetic_raman.h"
#include "support/temp_dir.h"

namespace veltrane {
namespace {

constexpr std::size_t kEntries = 10000;

// A measured-looking 2500-point spectrum on whole wavenumbers 400..2899:
// bands, fluorescence five times the strongest band, noise.
std::vector<double> NoisySpectrum(std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    auto material = test::MakeSyntheticMaterial(rng);
    std::vector<double> axis(2500);
    for (std::size_t i = 0; i < axis.size(); ++i)
        axis[i] = 400.0 + static_cast<double>(i);
    return test::MeasureSynthetic(material, axis, 5.0, 100.0, rng);
}

void BM_ArplsBaseline2500(benchmark::State& s) {
    std::vector<double> y = NoisySpectrum(1), baseline(y.size());
    for (auto _ : s) {
        ArplsBaseline(y, baseline);
        benchmark::DoNotOptimize(baseline.data());
    }
}
BENCHMARK(BM_ArplsBaseline2500)->Unit(benchmark::kMicrosecond);

// The same iteration with the solve done by Eigen's SimplicialLDLT on the
// sparse system (pattern analysed once, factorised each iteration).
void ArplsEigen(const std::vector<double>& y, std::vector<double>& out, const BaselineParams& p) {
    const int n = static_cast<int>(y.size());
    Eigen::SparseMatrix<double> d(n - 2, n);
    std::vector<Eigen::Triplet<double>> t;
    for (int i = 0; i < n - 2; ++i) {
        t.emplace_back(i, i, 1.0);
        t.emplace_back(i, i + 1, -2.0);
        t.emplace_back(i, i + 2, 1.0);
    }
    d.setFromTriplets(t.begin(), t.end());
    Eigen::SparseMatrix<double> h = p.lambda * Eigen::SparseMatrix<double>(d.transpose() * d);
    Eigen::Map<const Eigen::VectorXd> yv(y.data(), n);
    Eigen::VectorXd w = Eigen::VectorXd::Ones(n), z(n);
    Eigen::SimplicialLDLT<Eigen::SparseMatrix<double>> solver;
    Eigen::SparseMatrix<double> a = h;
    for (int k = 0; k < n; ++k)
        a.coeffRef(k, k) += 1.0;
    solver.analyzePattern(a);
    for (int it = 0; it < p.maxIterations; ++it) {
        a = h;
        for (int k = 0; k < n; ++k)
            a.coeffRef(k, k) += w[k];
        solver.factorize(a);
        z = solver.solve(w.cwiseProduct(yv));
        Eigen::VectorXd r = yv - z;
        double sum = 0, sq = 0;
        int neg = 0;
        for (int k = 0; k < n; ++k)
            if (r[k] < 0) {
                sum += r[k];
                sq += r[k] * r[k];
                ++neg;
            }
        if (neg < 2) break;
        double mean = sum / neg, sigma = std::sqrt(std::max(0.0, sq / neg - mean * mean));
        if (!(sigma > 0)) break;
        Eigen::VectorXd next(n);
        for (int k = 0; k < n; ++k)
            next[k] = 1.0 / (1.0 + std::exp(std::min(2.0 * (r[k] - (2.0 * sigma - mean)) / sigma, 700.0)));
        double change = (next - w).squaredNorm(), norm = w.squaredNorm();
        w = next;
        if (change < p.ratio * p.ratio * norm) break;
    }
    out.assign(z.data(), z.data() + n);
}

void BM_ArplsBaseline2500Eigen(benchmark::State& s) {
    std::vector<double> y = NoisySpectrum(1), baseline;
    for (auto _ : s) {
        ArplsEigen(y, baseline, BaselineParams{});
        benchmark::DoNotOptimize(baseline.data());
    }
    // The two solvers must agree, or the comparison means nothing.
    std::vector<double> ours(y.size());
    ArplsBaseline(y, ours);
    double worst = 0;
    for (std::size_t i = 0; i < y.size(); ++i)
        worst = std::max(worst, std::abs(ours[i] - baseline[i]));
    s.counters["max_difference_to_banded"] = worst;
}
BENCHMARK(BM_ArplsBaseline2500Eigen)->Unit(benchmark::kMicrosecond);

// 10,000 prepared entries of about 2800 points each, as an index of library
// files made on the two large sensors holds them.
const PreparedLibrary& TenThousandEntries() {
    static const PreparedLibrary* library = [] {
        auto* lib = new PreparedLibrary;
        std::mt19937_64 rng(3);
        std::uniform_int_distribution<int> startJitter(-30, 30);
        std::vector<float> values;
        lib->reserve(kEntries, kEntries * 2900);
        for (std::size_t e = 0; e < kEntries; ++e) {
            auto material = test::MakeSyntheticMaterial(rng);
            std::int32_t start = 380 + startJitter(rng);
            values.resize(2850);
            for (std::size_t k = 0; k < values.size(); ++k)
                values[k] = static_cast<float>(test::SyntheticIntensity(material, start + static_cast<double>(k)));
            lib->add(start, values.data(), values.size());
        }
        return lib;
    }();
    return *library;
}

void BM_RankTenThousandEntries(benchmark::State& s) {
    const PreparedLibrary& library = TenThousandEntries();
    GridSpectrum unknown;
    unknown.start = 400;
    unknown.values.assign(library.values(17), library.values(17) + 2800);
    for (auto _ : s) {
        Ranking r = RankLibrary(unknown, library, SearchRange{}, 5);
        benchmark::DoNotOptimize(r.hits.data());
    }
    s.counters["entries"] = static_cast<double>(library.size());
    s.counters["memory_MB_per_1000_entries"] = library.bytes() / 1e6 / (library.size() / 1000.0);
}
BENCHMARK(BM_RankTenThousandEntries)->Unit(benchmark::kMillisecond);

// 10,000 PC library files of synthetic materials on the 2500-pixel model's
// spacing, in a temporary folder kept for the whole program.
struct LibraryFolder {
    test::TempDir dir;
    std::string folder = dir.path() + "local/";
    std::string unknown = dir.path() + "unknown.rlb";
    LibraryFolder() {
        std::filesystem::create_directories(folder);
        std::mt19937_64 rng(5);
        std::vector<float> x(kPcLibraryPoints), y(kPcLibraryPoints);
        for (std::size_t i = 0; i < x.size(); ++i)
            x[i] = 150.0f + 1.24f * static_cast<float>(i);
        for (std::size_t e = 0; e <= kEntries; ++e) {
            auto material = test::MakeSyntheticMaterial(rng);
            for (std::size_t i = 0; i < x.size(); ++i)
                y[i] = static_cast<float>(1000.0 * test::SyntheticIntensity(material, x[i]) + 0.3 * x[i]);
            SpectrumHeader header;
            header.setName("entry " + std::to_string(e));
            header.setModelCode(179);
            WritePcLibraryFile(e < kEntries ? folder + "entry" + std::to_string(e) + ".rlb" : unknown, header, y.data(),
                               x.data());
        }
    }
};
LibraryFolder& Folder() {
    static LibraryFolder* folder = new LibraryFolder;
    return *folder;
}

void BM_BuildIndexTenThousandFiles(benchmark::State& s) {
    LibraryFolder& f = Folder();
    std::string database = f.dir.path() + "build.sqlite";
    for (auto _ : s) {
        std::filesystem::remove(database);
        LibraryIndex index(database);
        IndexUpdate report = index.update({f.folder}, 2);
        if (report.processed != kEntries) s.SkipWithError("not every file was indexed");
    }
    s.counters["index_MB"] = static_cast<double>(std::filesystem::file_size(database)) / 1e6;
}
// CPU time of the whole process: the work is on worker threads, and the
// calling thread only writes.
BENCHMARK(BM_BuildIndexTenThousandFiles)
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

void BM_CliIdentifyUpToDateIndex(benchmark::State& s) {
    LibraryFolder& f = Folder();
    std::string database = f.dir.path() + "cli.sqlite";
    {
        LibraryIndex index(database);
        index.update({f.folder}, 2);
    }
    for (auto _ : s) {
        std::ostringstream out, err;
        int status = RunCli({"identify", f.unknown, "--library", f.folder, "--index", database}, out, err);
        benchmark::DoNotOptimize(status);
    }
}
BENCHMARK(BM_CliIdentifyUpToDateIndex)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();

} // namespace
} // namespace veltrane
