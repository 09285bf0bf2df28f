#include <benchmark/benchmark.h>

#include <QApplication>
#include <cmath>
#include <filesystem>

#include "app/chart_setup.h"
#include "app/program_state.h"
#include "app/ui/application.h"
#include "library/catalogue.h"
#include "library/library_drawing.h"
#include "library/library_file.h"
#include "library/ui/library_controller.h"
#include "shared/ui/qt_user_dialogs.h"
#include "sim/simulated_bridge.h"
#include "support/temp_dir.h"

// What the user waits for in the Linker page: a folder of 2000 libraries
// listed into the grid (target under 100 ms, only the headers are read), and
// six 2500-point PC libraries drawn (target under 20 ms).
namespace veltrane {
namespace {

void WriteLibraries(const std::string& folder, int count) {
    std::filesystem::create_directories(folder);
    std::vector<float> intensity(kPcLibraryPoints), axis(kPcLibraryPoints);
    for (std::size_t i = 0; i < kPcLibraryPoints; ++i) {
        axis[i] = 200.0f + 1.6f * static_cast<float>(i);
        intensity[i] = 3000.0f + 1500.0f * std::sin(0.02f * static_cast<float>(i));
    }
    SpectrumHeader header;
    header.setDateTime({2024, 5, 17, 14, 3, 9});
    header.setModelCode(179);
    for (int n = 0; n < count; ++n) {
        std::string name = "library " + std::to_string(n);
        header.setName(name);
        WritePcLibraryFile(LibraryFilePath(folder, name), header, intensity.data(), axis.data());
    }
}

// The application shown in the Linker mode, its PC folder holding `count`
// libraries and listed once.
struct LinkerPage {
    test::TempDir dir;
    VirtualClock clock;
    SimulatedBridge bridge;
    QtUserDialogs dialogs;
    std::unique_ptr<VeltraneApplication> app;

    explicit LinkerPage(int count) {
        WriteLibraries(dir.path() + "local/", count);
        app = std::make_unique<VeltraneApplication>(bridge, clock, dialogs, AppPathsAt(dir.path()));
        TForm_main& main = app->mainWindow();
        main.resize(1264, 730);
        main.show();
        main.SpeedButton_linker_modeClick();
        main.library().SpeedButton_import_pcClick();
        QApplication::processEvents();
    }
};

void BM_ListFolderIntoGrid(benchmark::State& s) {
    LinkerPage page(2000);
    LibraryController& library = page.app->mainWindow().library();
    for (auto _ : s) {
        library.RefreshLibraryList(LibraryView::Pc);
        QApplication::processEvents(); // the grid's repaint
    }
    s.counters["rows"] = page.app->state().library.lib.libraryCount;
}
BENCHMARK(BM_ListFolderIntoGrid)->Unit(benchmark::kMillisecond);

// The folder alone, without the grid: the header reads.
void BM_ListFolderRows(benchmark::State& s) {
    test::TempDir dir;
    WriteLibraries(dir.path(), 2000);
    for (auto _ : s)
        benchmark::DoNotOptimize(ListLibraryFolder(dir.path(), BrandVariant::Brenmor));
}
BENCHMARK(BM_ListFolderRows)->Unit(benchmark::kMillisecond);

// The Draw button with six ticked rows, up to the chart's repaint.
void BM_DrawSixLibraries(benchmark::State& s) {
    LinkerPage page(6);
    ProgramState& state = page.app->state();
    for (int r = 1; r <= 6; ++r)
        state.library.rowTicks[static_cast<std::size_t>(r)] = 1;
    LibraryController& library = page.app->mainWindow().library();
    for (auto _ : s) {
        library.SpeedButton_drawClick();
        QApplication::processEvents();
    }
    s.counters["curves"] = static_cast<double>(page.app->mainWindow().libraryChart().seriesCount());
}
BENCHMARK(BM_DrawSixLibraries)->Unit(benchmark::kMillisecond);

// The same into the chart model only: file reads, windows and points.
void BM_DrawSixLibrariesIntoModel(benchmark::State& s) {
    test::TempDir dir;
    WriteLibraries(dir.path(), 6);
    auto state = std::make_unique<ProgramState>();
    ApplyStartupValues(*state);
    state->library.lib.libraryFolder = dir.path();
    state->library.lib.libraryCount = 6;
    ClearTicks(state->library);
    for (int r = 1; r <= 6; ++r)
        state->library.rowTicks[static_cast<std::size_t>(r)] = 1;
    ChartModel chart;
    SetUpLibraryChart(chart);
    for (auto _ : s) {
        DrawResult result = DrawTickedLibraries(chart, state->library, [](int row) {
            std::string name = "library " + std::to_string(row - 1);
            return ListedRow{name, name + ".rlb"};
        });
        benchmark::DoNotOptimize(result.curves.data());
    }
}
BENCHMARK(BM_DrawSixLibrariesIntoModel)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace veltrane

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
