// Identification: what a search costs. Baseline removal of one spectrum
// (with the same arPLS on Eigen's sparse Cholesky beside it, which is why
// the program solves the band by hand), and against 100,000 library files:
// building their index on both cores, checking it is up to date, ranking
// its entries (checked against an exhaustive search at full resolution),
// and veltrane-cli identify with its time and peak memory.

#include <benchmark/benchmark.h>

#include <Eigen/SparseCholesky>
#include <Eigen/SparseCore>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "identify/hqi.h"
#include "identify/library_index.h"
#include "identify/mixture.h"
#include "identify/preprocess.h"
#include "identify/shift_spectrum.h"
#include "library/library_file.h"
#include "platform/file_io.h"
#include "support/synthetic_raman.h"
#include "support/temp_dir.h"

namespace veltrane {
namespace {

constexpr std::size_t kEntries = 100000;

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

// 100,000 PC library files of synthetic materials on the 2500-pixel model's
// spacing, in a temporary folder kept for the whole program, and the unknown:
// entry kPicked measured again with fluorescence and noise.
constexpr std::size_t kPicked = 4242;
struct LibraryFolder {
    test::TempDir dir;
    std::string folder = dir.path() + "local/";
    std::string unknown = dir.path() + "unknown.rlb";
    std::string database = dir.path() + "index.sqlite";
    LibraryFolder() {
        std::filesystem::create_directories(folder);
        std::vector<float> x(kPcLibraryPoints);
        for (std::size_t i = 0; i < x.size(); ++i)
            x[i] = 150.0f + 1.24f * static_cast<float>(i);
        auto write = [&](std::size_t first, std::size_t end) {
            std::vector<float> y(kPcLibraryPoints);
            for (std::size_t e = first; e < end; ++e) {
                std::mt19937_64 rng(5 + e);
                auto material = test::MakeSyntheticMaterial(rng);
                for (std::size_t i = 0; i < x.size(); ++i)
                    y[i] = static_cast<float>(1000.0 * test::SyntheticIntensity(material, x[i]) + 0.3 * x[i]);
                SpectrumHeader header;
                header.setName("entry " + std::to_string(e));
                header.setModelCode(179);
                // A plain write: the atomic, synced one would take hours for
                // 100,000 files, and the benchmark needs none of its safety.
                std::ofstream(folder + "entry" + std::to_string(e) + ".rlb", std::ios::binary)
                    << EncodePcLibraryFile(header, y.data(), x.data());
                if (e == kPicked) {
                    std::vector<double> axis(x.begin(), x.end());
                    std::mt19937_64 noise(99);
                    auto counts = test::MeasureSynthetic(test::PerturbMaterial(material, noise), axis, 5.0, 100.0, noise);
                    std::vector<float> measured(counts.begin(), counts.end());
                    header.setName("unknown");
                    WritePcLibraryFile(unknown, header, measured.data(), x.data());
                }
            }
        };
        std::thread other(write, kEntries / 2, kEntries);
        write(0, kEntries / 2);
        other.join();
    }
};
LibraryFolder& Folder() {
    static LibraryFolder* folder = new LibraryFolder;
    return *folder;
}

// The folder's index, built once for every benchmark that reads it.
const std::string& SharedIndex() {
    LibraryFolder& f = Folder();
    static bool built = [&] {
        LibraryIndex index(f.database);
        return index.update({f.folder}, 2).ok;
    }();
    (void)built;
    return f.database;
}

void BM_BuildIndexHundredThousandFiles(benchmark::State& s) {
    LibraryFolder& f = Folder();
    std::string database = f.dir.path() + "build.sqlite";
    for (auto _ : s) {
        std::filesystem::remove(database);
        LibraryIndex index(database);
        IndexUpdate report = index.update({f.folder}, 2);
        if (report.processed != kEntries || !report.notKept.empty()) s.SkipWithError("not every file was indexed");
    }
    s.counters["index_MB_per_1000_entries"] =
        static_cast<double>(std::filesystem::file_size(database)) / 1e6 / (kEntries / 1000.0);
    // The shared index is this one: building 100,000 files twice would
    // double the run for nothing.
    std::filesystem::rename(database, f.database);
}
// CPU time of the whole process: the work is on worker threads, and the
// calling thread only writes.
BENCHMARK(BM_BuildIndexHundredThousandFiles)
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

// What a search checks of an up-to-date index: the folder listed, one
// stat per file (device, inode, size, modification and change time), each
// compared with its row.
void BM_UpToDateCheckHundredThousandFiles(benchmark::State& s) {
    LibraryIndex index(SharedIndex());
    for (auto _ : s) {
        IndexUpdate report = index.update({Folder().folder}, 2);
        if (report.kept != kEntries) s.SkipWithError("the index was not up to date");
    }
}
BENCHMARK(BM_UpToDateCheckHundredThousandFiles)->Unit(benchmark::kMillisecond)->UseRealTime();

UnknownSpectrum PickedUnknown() {
    std::string bytes;
    ReadWholeFile(Folder().unknown, bytes);
    ShiftSpectrum spectrum;
    ReadShiftSpectrum(bytes, spectrum);
    return PrepareUnknown(spectrum.shift, spectrum.intensity);
}

// Every entry scored exactly at full resolution, a few hundred at a time
// (a library no larger than kExactCandidates is scored exactly throughout):
// what the coarse pass must agree with.
std::vector<RankedHit> Exhaustive(const UnknownSpectrum& unknown, const PreparedLibrary& library, std::size_t top) {
    std::vector<RankedHit> all;
    for (std::size_t first = 0; first < library.size(); first += kExactCandidates) {
        std::vector<std::size_t> entries;
        for (std::size_t i = first; i < std::min(library.size(), first + kExactCandidates); ++i)
            entries.push_back(i);
        std::vector<std::vector<float>> values;
        library.fullValues(entries, values);
        PreparedLibrary chunk;
        for (std::size_t k = 0; k < entries.size(); ++k)
            chunk.add(library.start(entries[k]), values[k].data(), values[k].size());
        for (const RankedHit& h : RankLibrary(unknown, chunk, SearchRange{}).hits)
            all.push_back({first + h.entry, h.hqi});
    }
    std::stable_sort(all.begin(), all.end(), [](const RankedHit& a, const RankedHit& b) { return a.hqi > b.hqi; });
    all.resize(std::min(top, all.size()));
    return all;
}

// Ranking the 100,000 entries of the index as a search holds them: compact
// forms in memory, the full spectra of the best few hundred read from the
// index.
void BM_RankHundredThousandIndexedEntries(benchmark::State& s) {
    LibraryIndex index(SharedIndex());
    IndexedLibrary library;
    if (!index.refresh({Folder().folder}, library, 2)) {
        s.SkipWithError("no index");
        return;
    }
    UnknownSpectrum unknown = PickedUnknown();
    Ranking r;
    for (auto _ : s) {
        r = RankLibrary(unknown, library.prepared, SearchRange{}, 20);
        benchmark::DoNotOptimize(r.hits.data());
    }
    std::vector<RankedHit> truth = Exhaustive(unknown, library.prepared, 20);
    bool same = r.hits.size() == truth.size();
    for (std::size_t k = 0; same && k < truth.size(); ++k)
        same = r.hits[k].entry == truth[k].entry && r.hits[k].hqi == truth[k].hqi;
    s.counters["same_best_20_as_exhaustive"] = same;
    s.counters["best_is_picked"] = !r.hits.empty() && library.info[r.hits[0].entry].name == "entry 4242";
    s.counters["entries"] = static_cast<double>(library.prepared.size());
    s.counters["memory_MB_per_1000_entries"] =
        static_cast<double>(library.prepared.bytes()) / 1e6 / (library.prepared.size() / 1000.0);
}
BENCHMARK(BM_RankHundredThousandIndexedEntries)->Unit(benchmark::kMillisecond)->UseRealTime();

// A mixture search over 10,000 entries held in memory (target 200 ms): the
// single ranking it starts from, then the mixture fit, for a sample that is
// 60 % of one entry's material and 40 % of another's.
void BM_MixtureTenThousandEntries(benchmark::State& s) {
    std::mt19937_64 rng(2024);
    std::vector<double> axis(2500);
    for (std::size_t i = 0; i < axis.size(); ++i)
        axis[i] = 400.0 + static_cast<double>(i);
    PreparedLibrary library;
    std::vector<test::SyntheticMaterial> materials;
    for (int n = 0; n < 10000; ++n) {
        materials.push_back(test::MakeSyntheticMaterial(rng));
        GridSpectrum g = CompressedForComparison(PrepareSpectrum(axis, test::MeasureSynthetic(materials.back(), axis, 2.0, 200.0, rng)));
        library.add(g.start, g.values.data(), g.values.size());
    }
    std::vector<double> a = test::MeasureSynthetic(materials[17], axis, 0.0, 1e6, rng);
    std::vector<double> b = test::MeasureSynthetic(materials[4242], axis, 0.0, 1e6, rng);
    std::vector<double> y(axis.size());
    const double amax = *std::max_element(a.begin(), a.end()), bmax = *std::max_element(b.begin(), b.end());
    for (std::size_t i = 0; i < y.size(); ++i)
        y[i] = 0.6 * a[i] / amax + 0.4 * b[i] / bmax + 0.3 * std::exp(-std::pow((axis[i] - 1600.0) / 1500.0, 2));
    UnknownSpectrum unknown = PrepareUnknown(axis, y);
    std::optional<MixtureResult> mixture;
    for (auto _ : s) {
        Ranking ranking = RankLibrary(unknown, library, SearchRange{}, kMixtureHitCandidates);
        mixture = FindMixture(unknown, library, ranking, SearchRange{});
        benchmark::DoNotOptimize(mixture);
    }
    bool both = mixture && mixture->components.size() == 2;
    for (const MixtureComponent& c : mixture ? mixture->components : std::vector<MixtureComponent>{})
        both = both && (c.entry == 17 || c.entry == 4242);
    s.counters["found_both"] = both;
    s.counters["entries"] = static_cast<double>(library.size());
}
BENCHMARK(BM_MixtureTenThousandEntries)->Unit(benchmark::kMillisecond)->UseRealTime();

// Starts the real program and reports what it cost. A child's peak memory
// counts the process it was copied from (forked) or ran in (spawned) until
// its exec, and this one holds hundreds of megabytes after the benchmarks
// before: so the program is started by a small process forked when this one
// began, which reports each run's status, peak memory and CPU time back.
class Launcher {
public:
    struct Run {
        int status = -1;
        long peakKb = 0;
        double cpuSeconds = 0;
    };
    Launcher() {
        if (::pipe(m_request) != 0 || ::pipe(m_reply) != 0) return;
        m_pid = ::fork();
        if (m_pid == 0) {
            serve();
            ::_exit(0);
        }
        ::close(m_request[0]);
        ::close(m_reply[1]);
    }
    // Arguments, each ended by a NUL byte.
    Run run(const std::string& args) {
        Run r;
        std::uint64_t size = args.size();
        if (m_pid <= 0 || !WriteAll(m_request[1], &size, sizeof size) || !WriteAll(m_request[1], args.data(), size) ||
            !ReadAll(m_reply[0], &r, sizeof r))
            return Run{};
        return r;
    }

private:
    static bool WriteAll(int fd, const void* data, std::size_t size) {
        for (auto* p = static_cast<const char*>(data); size > 0;) {
            ssize_t n = ::write(fd, p, size);
            if (n <= 0) return false;
            p += n;
            size -= static_cast<std::size_t>(n);
        }
        return true;
    }
    static bool ReadAll(int fd, void* data, std::size_t size) {
        for (auto* p = static_cast<char*>(data); size > 0;) {
            ssize_t n = ::read(fd, p, size);
            if (n <= 0) return false;
            p += n;
            size -= static_cast<std::size_t>(n);
        }
        return true;
    }
    void serve() {
        ::close(m_request[1]);
        ::close(m_reply[0]);
        std::uint64_t size = 0;
        while (ReadAll(m_request[0], &size, sizeof size)) {
            std::string args(size, '\0');
            if (!ReadAll(m_request[0], args.data(), size)) break;
            std::vector<char*> argv;
            for (std::size_t at = 0; at < args.size(); at = args.find('\0', at) + 1)
                argv.push_back(args.data() + at);
            argv.push_back(nullptr);
            Run r;
            pid_t child = ::fork();
            if (child == 0) {
                int null = ::open("/dev/null", O_WRONLY);
                ::dup2(null, 1);
                ::dup2(null, 2);
                ::execv(argv[0], argv.data());
                ::_exit(127);
            }
            int wstatus = 0;
            rusage usage{};
            if (child > 0 && ::wait4(child, &wstatus, 0, &usage) == child) {
                r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
                r.peakKb = usage.ru_maxrss;
                for (const timeval& t : {usage.ru_utime, usage.ru_stime})
                    r.cpuSeconds += static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_usec);
            }
            if (!WriteAll(m_reply[1], &r, sizeof r)) break;
        }
    }
    int m_request[2] = {-1, -1}, m_reply[2] = {-1, -1};
    pid_t m_pid = -1;
};
// Made before main, while this process is small.
Launcher launcher;

// The real program, started afresh each time, against the up-to-date index;
// its peak resident memory is what a search of 100,000 entries takes.
void BM_CliIdentifyUpToDateIndex(benchmark::State& s) {
    const std::string& database = SharedIndex();
    LibraryFolder& f = Folder();
    std::string args;
    for (const std::string& a : {std::string(VELTRANE_CLI), std::string("identify"), f.unknown,
                                 std::string("--library"), f.folder, std::string("--index"), database})
        args += a + '\0';
    long peakKb = 0;
    double cpuSeconds = 0;
    int status = -1;
    for (auto _ : s) {
        Launcher::Run r = launcher.run(args);
        status = r.status;
        peakKb = std::max(peakKb, r.peakKb);
        cpuSeconds += r.cpuSeconds;
    }
    if (status != 0) s.SkipWithError("identify did not find a match");
    s.counters["peak_resident_MB"] = static_cast<double>(peakKb) / 1024.0;
    // On a machine shared with other work the wall time says more about the
    // others than about the program; its CPU time (both cores) does not.
    s.counters["cpu_ms_per_run"] = 1000.0 * cpuSeconds / static_cast<double>(s.iterations());
}
BENCHMARK(BM_CliIdentifyUpToDateIndex)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// What every command pays before it does anything: the program loaded, its
// libraries linked, the arguments parsed. A library the tool links but does
// not need (Qt's, once) shows here first.
void BM_CliStartToVersion(benchmark::State& s) {
    std::string args = std::string(VELTRANE_CLI) + '\0' + "--version" + '\0';
    double cpuSeconds = 0;
    int status = -1;
    for (auto _ : s) {
        Launcher::Run r = launcher.run(args);
        status = r.status;
        cpuSeconds += r.cpuSeconds;
    }
    if (status != 0) s.SkipWithError("veltrane-cli --version failed");
    s.counters["cpu_ms_per_run"] = 1000.0 * cpuSeconds / static_cast<double>(s.iterations());
}
BENCHMARK(BM_CliStartToVersion)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(50);

} // namespace
} // namespace veltrane
