// Identification against a library of synthetic materials, and of the
// virtual instrument's samples. One library is generated, written as PC
// library files and indexed once for all cases, which keeps the program
// quick under the sanitizers.

#include <gtest/gtest.h>

#include <memory>

#include "app/connection_check.h"
#include "app/program_state.h"
#include "device/device_connection.h"
#include "device/device_link.h"
#include "identify/library_index.h"
#include "identify/preprocess.h"
#include "identify/shift_spectrum.h"
#include "identify/verdict.h"
#include "library/library_file.h"
#include "library/make_library.h"
#include "measure/measurement.h"
#include "measure/raw_spectrum_file.h"
#include "measure/spectral_axis.h"
#include "platform/clock.h"
#include "sim/sim_model.h"
#include "sim/simulated_bridge.h"
#include "sim/virtual_instrument.h"
#include "support/measure_sample.h"
#include "support/synthetic_raman.h"
#include "support/temp_dir.h"

namespace veltrane {
namespace {

constexpr int kLibraryMaterials = 300;
constexpr int kAbsentMaterials = 100;
constexpr int kUnknowns = 500;

struct SyntheticLibrary {
    test::TempDir dir;
    std::vector<test::SyntheticMaterial> materials; // the first kLibraryMaterials are in the library
    IndexedLibrary indexed;
    std::vector<int> materialOfEntry;
};

std::string MaterialName(int m) {
    return "material-" + std::to_string(m);
}

class IdentifyAccuracy : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        library = std::make_unique<SyntheticLibrary>();
        std::mt19937_64 rng(20240611);
        for (int m = 0; m < kLibraryMaterials + kAbsentMaterials; ++m)
            library->materials.push_back(test::MakeSyntheticMaterial(rng));
        // Clean entries on an even 2500-point axis, as a reference library
        // made from a high-resolution instrument would be.
        std::vector<float> axis(kPcLibraryPoints), intensity(kPcLibraryPoints);
        for (std::size_t i = 0; i < kPcLibraryPoints; ++i)
            axis[i] = static_cast<float>(150.0 + 1.24 * i);
        for (int m = 0; m < kLibraryMaterials; ++m) {
            for (std::size_t i = 0; i < kPcLibraryPoints; ++i)
                intensity[i] = static_cast<float>(1000.0 * test::SyntheticIntensity(library->materials[m], axis[i]));
            SpectrumHeader header;
            header.setName(MaterialName(m));
            header.setModelCode(179);
            ASSERT_TRUE(WritePcLibraryFile(library->dir.path() + MaterialName(m) + ".rlb", header, intensity.data(),
                                           axis.data()));
        }
        LibraryIndex index(library->dir.path() + "index/" + kIndexFileName);
        ASSERT_TRUE(index.refresh({library->dir.path()}, library->indexed, 2));
        ASSERT_EQ(library->indexed.info.size(), static_cast<std::size_t>(kLibraryMaterials));
        for (const IndexedEntryInfo& info : library->indexed.info)
            library->materialOfEntry.push_back(std::stoi(info.name.substr(std::string("material-").size())));
    }
    static void TearDownTestSuite() { library.reset(); }
    static std::unique_ptr<SyntheticLibrary> library;
};
std::unique_ptr<SyntheticLibrary> IdentifyAccuracy::library;

TEST_F(IdentifyAccuracy, SyntheticUnknownsOnEverySensorAxis) {
    const SimModel models[] = {SimModelLarge2500(), SimModelLarge2048(), SimModelSmall256()};
    std::vector<double> axes[3];
    for (int k = 0; k < 3; ++k)
        axes[k] = test::SensorShiftAxis(models[k]);
    std::mt19937_64 rng(77);
    std::uniform_int_distribution<int> pickPresent(0, kLibraryMaterials - 1);
    std::uniform_real_distribution<double> snr(20.0, 200.0);

    int correct[3] = {}, total[3] = {};
    for (int u = 0; u < kUnknowns; ++u) {
        int m = pickPresent(rng);
        int k = u % 3;
        auto bands = test::PerturbMaterial(library->materials[m], rng);
        auto counts = test::MeasureSynthetic(bands, axes[k], 10.0, snr(rng), rng);
        UnknownSpectrum unknown = PrepareUnknown(axes[k], counts);
        Ranking ranking = RankLibrary(unknown, library->indexed.prepared, SearchRange{}, 1);
        ++total[k];
        if (!ranking.hits.empty() && library->materialOfEntry[ranking.hits[0].entry] == m) ++correct[k];
    }
    int allCorrect = correct[0] + correct[1] + correct[2];
    RecordProperty("top1_2500", correct[0]);
    RecordProperty("top1_2048", correct[1]);
    RecordProperty("top1_256", correct[2]);
    EXPECT_GE(allCorrect * 100, 98 * kUnknowns) << "2500: " << correct[0] << "/" << total[0] << ", 2048: " << correct[1]
                                                << "/" << total[1] << ", 256: " << correct[2] << "/" << total[2];

    int noMatch = 0;
    for (int a = 0; a < kAbsentMaterials; ++a) {
        int k = a % 3;
        auto bands = test::PerturbMaterial(library->materials[kLibraryMaterials + a], rng);
        auto counts = test::MeasureSynthetic(bands, axes[k], 10.0, snr(rng), rng);
        Ranking ranking = RankLibrary(PrepareUnknown(axes[k], counts), library->indexed.prepared, SearchRange{});
        const auto& info = library->indexed.info;
        auto nameOf = [&info](std::size_t e) -> const std::string& { return info[e].name; };
        if (DecideVerdict(ranking.hits, nameOf).verdict == Verdict::NoMatch) ++noMatch;
    }
    RecordProperty("no_match_absent", noMatch);
    EXPECT_GE(noMatch * 100, 95 * kAbsentMaterials) << noMatch << " of " << kAbsentMaterials;
}

using test::MeasureSample;

TEST(IdentifyInstrumentSamples, EachSampleFoundFromAnotherExposureAndSeed) {
    test::TempDir dir;
    const SimModel models[] = {SimModelLarge2500(), SimModelLarge2048()};
    const SimSample samples[] = {SimSample::Polystyrene, SimSample::Cyclohexane, SimSample::Paracetamol,
                                 SimSample::Ethanol};
    for (const SimModel& model : models) {
        std::string folder = dir.path() + model.label + "/";
        // The library: each sample at 1000 ms, made into an entry as Make Library does.
        for (SimSample sample : samples) {
            auto state = MeasureSample(model, sample, 1000, 11);
            ASSERT_EQ(MakeLibrary(SimSampleName(sample), state->measurement, state->device, state->library, folder,
                                  {2026, 1, 2, 3, 4, 5}),
                      MakeLibraryResult::Made);
        }
        LibraryIndex index(dir.path() + kIndexFileName);
        IndexedLibrary library;
        ASSERT_TRUE(index.refresh({folder}, library));
        ASSERT_EQ(library.info.size(), std::size(samples));
        // The unknowns: 3000 ms with another seed, saved and read back as raw files.
        for (SimSample sample : samples) {
            auto state = MeasureSample(model, sample, 3000, 99);
            RawFileRecord record;
            std::string bytes =
                BuildRawSpectrumFile(state->measurement, state->device, "unknown.rsd", {2026, 1, 2, 3, 4, 5}, record);
            ShiftSpectrum spectrum;
            ASSERT_EQ(ReadShiftSpectrum(bytes, spectrum), ShiftRead::Ok);
            Ranking ranking =
                RankLibrary(PrepareUnknown(spectrum.shift, spectrum.intensity), library.prepared, SearchRange{});
            ASSERT_EQ(ranking.hits.size(), std::size(samples));
            EXPECT_EQ(library.info[ranking.hits[0].entry].name, SimSampleName(sample)) << model.label;
            auto nameOf = [&library](std::size_t e) -> const std::string& { return library.info[e].name; };
            EXPECT_EQ(DecideVerdict(ranking.hits, nameOf).verdict, Verdict::Match)
                << model.label << " " << SimSampleName(sample) << " " << ranking.hits[0].hqi << " "
                << ranking.hits[1].hqi;
        }
    }
}

} // namespace
} // namespace veltrane
