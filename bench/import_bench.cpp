#include <benchmark/benchmark.h>

#include <cmath>
#include <fstream>
#include <string>

#include "app/spectrum_import.h"
#include "interchange/interchange.h"
#include "support/temp_dir.h"

// Building a library from a folder: 10,000 spectrum files of a public
// database's layout and of an acquisition program's export (1,500 points
// each, as real ones hold) imported as PC library entries, flushed to disk
// at the end (target: 30 s). And the memory a 64 MiB file of blank lines
// costs the readers (target: a small multiple of the file).
namespace veltrane {
namespace {

// The peak resident memory since the last reset, in kB; the reset lets each
// benchmark see its own peak rather than the largest of the process so far.
long PeakKilobytes(bool reset = false) {
    if (reset) std::ofstream("/proc/self/clear_refs") << "5";
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return 0;
}

void BM_BlankLines(benchmark::State& state) {
    const InterchangeFormat format = state.range(0) == 0 ? InterchangeFormat::Csv : InterchangeFormat::Jcamp;
    const long before = PeakKilobytes(true);
    std::string text;
    text.reserve((64u << 20) + 200);
    text += format == InterchangeFormat::Csv ? "100,1\n" : "##TITLE=t\n##XUNITS=1/CM\n##XYPOINTS=(XY..XY)\n";
    text.append((64u << 20) - 200, '\n');
    text += format == InterchangeFormat::Csv ? "200,2\n" : "100, 1\n200, 2\n##END=\n";
    for (auto _ : state) {
        InterchangeSpectrum s;
        ReadOutcome outcome = ReadInterchangeSpectrum(text, format, 0, s);
        if (!outcome.ok) state.SkipWithError(outcome.message.c_str());
    }
    state.counters["file_MiB"] = 64;
    // The file itself is counted: 64 MiB is the least possible.
    state.counters["peak_growth_MiB"] = static_cast<double>(PeakKilobytes() - before) / 1024.0;
}
BENCHMARK(BM_BlankLines)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);

void WriteSources(const std::string& folder, int count) {
    for (int n = 0; n < count; ++n) {
        std::string text;
        if (n % 2 == 0) {
            text = "##NAMES=Mineral " + std::to_string(n / 10) + "\n##RRUFFID=R" + std::to_string(n) + "\n";
            for (int i = 0; i < 1500; ++i)
                text += std::to_string(100.0 + 0.8 * i) + ", " + std::to_string(1000.0 + 300.0 * std::sin(0.01 * i + n)) + "\n";
            text += "##END=\n";
        } else {
            text = "Date;2024-05-17 14:03:09\nlaser_wavelength;785,0\nPixel;Wavelength;Raman Shift;Dark;Dark Subtracted #1\n";
            for (int i = 0; i < 1500; ++i)
                text += std::to_string(i) + ";" + std::to_string(790 + i) + ";" + std::to_string(100 + i) + ",5;1000;" +
                        std::to_string(500 + (i * n) % 997) + ",25\n";
        }
        std::ofstream(folder + "spectrum" + std::to_string(n) + ".txt", std::ios::binary) << text;
    }
}

void BM_ImportFolder(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    test::TempDir source;
    WriteSources(source.path(), count);
    test::TempDir library; // removed after the timing
    for (auto _ : state) {
        std::string error;
        SpectrumImporter importer(library.path(), ImportOptions{}, LocalDateTime{2026, 12, 9, 12, 0, 0});
        int imported = 0;
        for (const std::string& file : SpectrumFilesIn(source.path(), false, error))
            imported += importer.importFile(file).imported ? 1 : 0;
        importer.finish();
        if (imported != count) state.SkipWithError("not every file was imported");
    }
    state.counters["files"] = count;
}
BENCHMARK(BM_ImportFolder)->Arg(10000)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace
} // namespace veltrane
