// Writes the seed corpus of every fuzz target into fuzz/corpus/<target>/:
// files from the program's own writers and records and measurements of the
// virtual instrument, plus the edge cases each reader must refuse or survive.
// Run once after a change to a layout; its output is committed.
//
//   veltrane_fuzz_corpus <repository>/fuzz/corpus

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/connection_check.h"
#include "app/program_state.h"
#include "app/settings.h"
#include "device/device_connection.h"
#include "identify/library_index.h"
#include "index_rig.h"
#include "interchange/delimited_text.h"
#include "interchange/jcamp.h"
#include "interchange/spc_file.h"
#include "library/library_file.h"
#include "measure/acquisition.h"
#include "measure/raw_spectrum_file.h"
#include "measure/sample_sidecar.h"
#include "measure/spectral_axis.h"
#include "platform/byte_order.h"
#include "sim/simulated_bridge.h"
#include "sim/virtual_instrument.h"
#include "transfer/transfer.h"

using namespace veltrane;
namespace fs = std::filesystem;

namespace {

fs::path g_root;

void Put(const std::string& target, const std::string& name, std::string_view bytes) {
    fs::create_directories(g_root / target);
    std::ofstream out(g_root / target / name, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}
void Put(const std::string& target, const std::string& name, const std::vector<std::uint8_t>& bytes) {
    Put(target, name, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

struct Instrument {
    VirtualClock clock{100000};
    SimulatedBridge bridge;
    std::shared_ptr<VirtualInstrument> instrument;
    std::unique_ptr<DeviceLink> link;
    std::unique_ptr<ProgramState> state = std::make_unique<ProgramState>();
    explicit Instrument(SimModel model) {
        instrument = std::make_shared<VirtualInstrument>(clock, std::move(model), SimSample::Polystyrene, 7);
        bridge.attach(instrument);
        link = std::make_unique<DeviceLink>(bridge);
        ApplyStartupValues(*state);
        CheckConnection(*link, clock, *state);
        RefreshSpectralAxis(state->measurement.spectrum, state->device);
    }
    // One Raman measurement with the laser on, as the measurement leaves it.
    void measure() {
        AcquisitionContext ctx{*link, clock, state->measurement, state->device};
        SwitchLaser(ctx, true);
        Acquire(ctx, state->measurement.spectrum.signal.data(), 200, 1);
        SwitchLaser(ctx, false);
        state->measurement.spectrum.haveMeasured = true;
    }
};

SpectrumHeader Header(const std::string& name, std::uint16_t model) {
    SpectrumHeader header;
    header.setName(name);
    header.setDateTime({2017, 3, 3, 9, 5, 7});
    header.setModelCode(model);
    return header;
}

void RawFiles() {
    Instrument large(SimModelLarge2500());
    large.measure();
    RawFileRecord record;
    std::string file = BuildRawSpectrumFile(large.state->measurement, large.state->device, "polystyrene",
                                            {2024, 5, 17, 14, 3, 59}, record);
    Put("raw_spectrum_file", "measured-2500.rsd", file);
    Instrument mid(SimModelLarge2048());
    mid.measure();
    Put("raw_spectrum_file", "measured-2048.rsd",
        BuildRawSpectrumFile(mid.state->measurement, mid.state->device, "2048", {2024, 1, 1, 0, 0, 0}, record));
    Instrument small(SimModelSmall256());
    small.measure();
    std::string small256 =
        BuildRawSpectrumFile(small.state->measurement, small.state->device, "small", {2024, 1, 1, 0, 0, 0}, record);
    Put("raw_spectrum_file", "measured-256.rsd", small256);
    // Edge cases: cut short, an unknown frame length, a window past the pixels.
    Put("raw_spectrum_file", "truncated.rsd", std::string_view(small256).substr(0, small256.size() - 1));
    Put("raw_spectrum_file", "header-only.rsd", std::string_view(small256).substr(0, 124));
    std::string unknown = small256;
    PutI32(reinterpret_cast<std::uint8_t*>(unknown.data()) + kHeaderSize, 255);
    Put("raw_spectrum_file", "unknown-length.rsd", unknown);
    std::string outside = small256;
    PutI32(reinterpret_cast<std::uint8_t*>(outside.data()) + outside.size() - 4, 257);
    Put("raw_spectrum_file", "window-outside.rsd", outside);
}

void Libraries() {
    std::vector<float> intensity(kPcLibraryPoints), axis(kPcLibraryPoints);
    for (std::size_t i = 0; i < kPcLibraryPoints; ++i) {
        axis[i] = 100.0f + 1.64f * static_cast<float>(i);
        intensity[i] = 1000.0f + 800.0f * static_cast<float>(i % 97) / 97.0f;
    }
    std::string pc = EncodePcLibraryFile(Header("polystyrene", 179), intensity.data(), axis.data());
    Put("pc_library", "polystyrene.rlb", pc);
    for (std::size_t i = 0; i < kPcLibraryPoints; ++i)
        intensity[i] = i % 2 ? -1.0f : 70000.5f;
    Put("pc_library", "out-of-range.rlb", EncodePcLibraryFile(Header("range", 180), intensity.data(), axis.data()));
    Put("pc_library", "short.rlb", std::string_view(pc).substr(0, kPcLibrarySize - 1));

    std::string record = ConvertPcLibraryToRecord(pc);
    Put("device_library_record", "polystyrene.rlb", record);
    Put("device_library_record", "short.rlb", std::string_view(record).substr(0, kDeviceRecordSize - 1));
    std::string maxed(kDeviceRecordSize, '\xFF');
    Put("device_library_record", "all-ff.rlb", maxed);

    Put("catalogue", "library.rlb", pc);
    Put("catalogue", "record.rlb", record);
    Put("catalogue", "header.rlb", std::string_view(pc).substr(0, kHeaderSize));
    Put("catalogue", "short.rlb", std::string_view(pc).substr(0, kHeaderSize - 1));
    SpectrumHeader full = Header(std::string(64, 'N'), 180);
    full.setDateTime({-2147483647 - 1, -32768, 32767, 2147483647, -1, 0});
    Put("catalogue", "full-name.rlb",
        std::string_view(reinterpret_cast<const char*>(full.bytes.data()), full.bytes.size()));
}

void Settings() {
    const fs::path temp = fs::temp_directory_path() / "veltrane-corpus-settings.ini";
    fs::remove(temp);
    IniFile ini(temp.string());
    HOTKEY keys;
    keys.keys = {"S", "L", "C", "O", "M", "E", "D", "A"};
    WriteSettings(ini, {"1500", "5", "10000", "80"}, keys);
    std::string written;
    {
        std::ifstream in(temp, std::ios::binary);
        written.assign(std::istreambuf_iterator<char>(in), {});
    }
    fs::remove(temp);
    Put("settings", "written.ini", written);
    Put("settings", "hand-made.ini",
        "\xEF\xBB\xBF; comment\n[ form ]\nFILE = 1\n[Measure Set]\nExptime = 0x10\nAverage=$ff\n"
        "Laser preheat=-5\nLaser power=3000.5\n[HOTKEY] trailing\nCapture =  c  \n[HOTKEY]\nCapture=x\n");
    Put("settings", "mixed-endings.ini", "[Form]\r\nfile=1\r[Measure Set]\nExptime=-1\r\n[Other]\nkey=v");
    Put("settings", "number.txt", "  -9223372036854775808 ");
}

void DeviceRecords() {
    for (const SimModel& model : {SimModelLarge2500(), SimModelLarge2048(), SimModelSmall256(), SimModelUnknown()}) {
        Instrument rig(model);
        rig.link->ReadSensorRecord();
        rig.link->ReadDeviceRecord();
        auto sensor = rig.link->sensorRecord();
        auto device = rig.link->deviceRecord();
        std::vector<std::uint8_t> input(sensor.begin(), sensor.end());
        input.insert(input.end(), device.begin(), device.end());
        input.push_back(1); // brand
        input.push_back(1); // calibration valid
        std::vector<std::uint8_t> cal = model.calibrationFile();
        input.insert(input.end(), cal.begin(), cal.end());
        std::string name = std::to_string(model.deviceType);
        Put("identification", "type-" + name, input);

        // Calibration: flags (file present, sensor kind), pixel count, display
        // range, laser, then the file.
        std::vector<std::uint8_t> head(11, 0);
        head[0] = model.deviceType == 180 ? 2 : (model.deviceType == 179 ? 0 : 4);
        PutU16(head.data() + 1, model.pixelCount());
        PutU16(head.data() + 3, 400);
        PutU16(head.data() + 5, 4000);
        PutF32(head.data() + 7, model.laserNm);
        std::vector<std::uint8_t> file = head;
        file.insert(file.end(), cal.begin(), cal.end());
        Put("calibration", "type-" + name, file);
        if (model.deviceType == 179) {
            std::vector<std::uint8_t> shortFile = head;
            shortFile.insert(shortFile.end(), cal.begin(), cal.begin() + 20);
            Put("calibration", "short-20", shortFile);
            std::vector<std::uint8_t> longFile = file;
            longFile.resize(head.size() + 1500, 0x41);
            Put("calibration", "long-1500", longFile);
            head[0] |= 1;
            Put("calibration", "missing", head);
        }
    }
}

void LinkScripts() {
    // Every reply byte the same value v: command v % 15, every status a
    // success, every count v % 4 devices, every transfer complete.
    for (int command = 0; command < 15; ++command) {
        int v = command;
        while (v % 4 == 0)
            v += 15;
        Put("device_link", "all-" + std::to_string(command), std::string(600, static_cast<char>(v)));
    }
    // Failures: statuses from 0xF0, short transfers from 0xE0.
    Put("device_link", "failing", std::string(200, '\xF3') + std::string(200, '\xE5'));
}

// Foreign spectra: each format from its writer and by hand in the forms
// other programs use, plus damaged ones.
void ForeignSpectra() {
    InterchangeSpectrum s;
    s.title = "seed";
    for (int i = 0; i < 64; ++i) {
        s.x.push_back(200.0f + 12.5f * static_cast<float>(i) + 0.01f * static_cast<float>(i * i));
        s.y.push_back(static_cast<float>(1000 + ((i * 37) % 19) * 50));
    }
    Put("csv_spectrum", "written.csv", WriteCsvSpectrum(s));
    Put("csv_spectrum", "semicolon-comma.csv", "x;y\n300;1,5\n200;2,5\n100;-3\n");
    Put("csv_spectrum", "tab-comments.txt", "# note\n100\t1.5\n% more\n200\t2.5\n");
    Put("csv_spectrum", "spaces.txt", "  100   1.5e2\n 200 2.5\n");
    Put("csv_spectrum", "not-monotonic.csv", "100,1\n300,2\n200,3\n");

    Put("jcamp_spectrum", "affn-written.jdx", WriteJcampSpectrum(s, JcampForm::Affn));
    Put("jcamp_spectrum", "difdup-written.jdx", WriteJcampSpectrum(s, JcampForm::DifDup));
    const std::string head = "##TITLE=t\n##JCAMP-DX=4.24\n##XUNITS=1/CM\n##FIRSTX=100\n##LASTX=107\n##DELTAX=1\n"
                             "##NPOINTS=8\n##XFACTOR=1\n##YFACTOR=0.5\n##XYDATA=(X++(Y..Y))\n";
    Put("jcamp_spectrum", "pac.jdx", head + "100+10+12+15+15\n104+15+11-3+0\n##END=\n");
    Put("jcamp_spectrum", "sqz.jdx", head + "100A0A2A5A5\n104A5A1c@\n##END=\n");
    Put("jcamp_spectrum", "dif.jdx", head + "100A0KL%%\n104A5mj4L\n107@\n##END=\n");
    Put("jcamp_spectrum", "difdup.jdx", head + "100A0KL%T\n104A5mj4L\n107@\n##END=\n");
    Put("jcamp_spectrum", "broken-check.jdx", head + "100A0KL%T\n104A4mj4L\n107@\n##END=\n");
    Put("jcamp_spectrum", "peaks-nm.jdx",
        "##TITLE=p\n##XUNITS=NANOMETERS\n##PEAK TABLE=(XYW..XYW)\n540,10,1 560,20,2\n##END=\n");
    Put("jcamp_spectrum", "compound.jdx",
        "##TITLE=set\n##BLOCKS=2\n##TITLE=a\n##XUNITS=1/CM\n##XYPOINTS=(XY..XY)\n1,2\n3,4\n##END=\n"
        "##TITLE=b\n##XUNITS=1/CM\n##XYPOINTS=(XY..XY)\n5,6\n##END=\n##END=\n");

    Put("spc_spectrum", "uneven.spc", WriteSpcSpectrum(s));
    InterchangeSpectrum even = s;
    for (std::size_t i = 0; i < even.x.size(); ++i)
        even.x[i] = 100.0f + static_cast<float>(i);
    std::string evenFile = WriteSpcSpectrum(even);
    Put("spc_spectrum", "even.spc", evenFile);
    // The same file with 16-bit integers (TSPREC, exponent 1) and with 32-bit
    // integers, both as a multi-spectrum file of two subfiles.
    std::string ints = evenFile.substr(0, 512 + 32 + 2 * even.x.size());
    ints[0] = 0x01;
    ints[3] = 0x01;
    Put("spc_spectrum", "int16.spc", ints);
    std::string multi = evenFile + evenFile.substr(512);
    multi[0] = 0x04;
    multi[3] = 0x00;
    multi[24] = 2;
    multi[513] = 0x08;
    Put("spc_spectrum", "multi-int32.spc", multi);
    std::string old = evenFile;
    old[1] = 0x4D;
    Put("spc_spectrum", "old-format.spc", old);
    Put("spc_spectrum", "truncated.spc", std::string_view(evenFile).substr(0, 600));

    // The facts of a measurement and sample information in each format.
    InterchangeSpectrum described = even;
    described.operatorName = "Ann";
    described.notes = "two\nlines & $$";
    described.laserNm = 785;
    described.integrationMs = 3000;
    described.averages = 2;
    described.date = "2026/12/09 23:15:48 +0100";
    described.instrument = "TL100";
    described.serial = "42";
    Put("spc_spectrum", "log.spc", WriteSpcSpectrum(described));
    Put("jcamp_spectrum", "described.jdx", WriteJcampSpectrum(described, JcampForm::Affn));
    Put("csv_spectrum", "described.csv", WriteCsvSpectrum(described));
    Put("sample_sidecar", "written.json", EncodeSampleSidecar({{"Zoë", "Ann", "two\nlines"}, {"4711", 1000u, 2}}));
    Put("sample_sidecar", "later-keys.json", R"({"operator": "Ann", "version": 2, "extra": [1, {"a": null}]})");
}

void RecordNames() {
    auto names = [](std::initializer_list<std::string> list) {
        std::string out;
        for (const std::string& n : list) {
            std::string field(kNameFieldSize, '\0');
            field.replace(0, std::min(n.size(), kNameFieldSize), n.substr(0, kNameFieldSize));
            out += field;
        }
        return out;
    };
    Put("record_name", "plain", names({"alpha", "beta", "gamma"}));
    Put("record_name", "hostile", names({"../evil", "a/b", "..", "."}));
    Put("record_name", "same-and-empty", names({"same", "same", "", "x*?"}));
    Put("record_name", "long", names({std::string(64, 'L'), std::string(63, '/') + "a", "caf\xC3\xA9 \x7F\x01"}));
}

// Index files: a sound one over the target's library folder (so its row is
// the one the search keeps), an empty one, one of another program.
void LibraryIndexes() {
    fuzz::MakeIndexRigLibrary();
    const fs::path work = fs::temp_directory_path() / "veltrane-corpus-index";
    fs::remove_all(work);
    fs::create_directories(work);
    auto database = (work / kIndexFileName).string();
    {
        LibraryIndex index(database);
        IndexedLibrary library;
        index.refresh({fuzz::IndexRigFolder()}, library);
    }
    std::string bytes;
    ReadWholeFile(database, bytes);
    Put("library_index", "sound.sqlite", bytes);
    Put("library_index", "empty", std::string());
    Put("library_index", "text", std::string("SQLite format 3\0 and then nothing sensible"));
    fs::remove_all(work);
}

// Spectra for the search, in the order the target reads them: a library of
// four entries with bands of their own, and unknowns that are one of them,
// or two or three of them added, so the mixture search has fits to judge.
void SearchSpectra() {
    struct Band {
        int at, height, width;
    };
    auto spectrum = [](std::vector<std::uint8_t>& out, const std::vector<Band>& bands) {
        auto u16 = [&out](int v) { out.push_back(std::uint8_t(v & 0xff)), out.push_back(std::uint8_t(v >> 8 & 0xff)); };
        u16(900);         // 1500 points
        u16(200);         // from 100 cm-1
        out.push_back(0); // 1 cm-1 apart
        out.push_back(0); // no background, noise or faults
        out.push_back(std::uint8_t(bands.size() - 1));
        for (const Band& b : bands) {
            u16((b.at - 100 - 750 + 1500) % 1500); // the band's shift, from the middle of the spectrum
            u16(b.height);
            out.push_back(std::uint8_t(b.width));
        }
    };
    const std::vector<std::vector<Band>> entries = {
        {{300, 10000, 5}, {600, 6000, 5}, {1000, 8000, 4}},
        {{450, 9000, 6}, {800, 7000, 5}, {1300, 5000, 8}},
        {{250, 8000, 3}, {700, 9000, 4}, {1150, 4000, 10}, {1450, 3000, 6}},
        {{520, 12000, 12}, {1080, 5000, 7}},
    };
    auto unknown = [&](const std::string& name, const std::vector<double>& parts) {
        std::vector<std::uint8_t> out{std::uint8_t(entries.size() - 2)};
        for (const auto& entry : entries)
            spectrum(out, entry);
        std::vector<Band> mixed;
        for (std::size_t e = 0; e < parts.size(); ++e)
            for (const Band& b : entries[e])
                if (parts[e] > 0) mixed.push_back({b.at, int(b.height * parts[e]), b.width});
        spectrum(out, mixed);
        out.push_back(0); // the whole range
        out.push_back(2); // up to three components
        Put("spectrum_search", name, out);
    };
    unknown("pure", {1.0});
    unknown("two", {0.6, 0.4});
    unknown("three", {0.5, 0.3, 0.2});
}
} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    g_root = argv[1];
    RawFiles();
    Libraries();
    Settings();
    DeviceRecords();
    LinkScripts();
    RecordNames();
    ForeignSpectra();
    LibraryIndexes();
    SearchSpectra();
    return 0;
}
