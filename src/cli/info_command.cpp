#include <memory>

#include "cli/commands.h"
#include "cli/input.h"
#include "cli/output.h"
#include "measure/saturation.h"

namespace veltrane {

namespace {

struct InfoValues {
    std::vector<std::string> files;
    ReadChoices read;
    bool json = false;
};

const char* FormatName(const SpectrumFile& file) {
    if (file.kind == FileKind::Foreign)
        return file.format == InterchangeFormat::Csv     ? "csv"
               : file.format == InterchangeFormat::Jcamp ? "jcamp-dx"
                                                         : "spc";
    return file.kind == FileKind::Raw ? "raw" : file.kind == FileKind::PcLibrary ? "pc-library" : "device-library";
}

// The fields of a file, in the order the text lists them.
Json InfoRecord(const std::string& path, const SpectrumFile& file) {
    Json record;
    record["file"] = path;
    record["format"] = FormatName(file);
    if (file.kind == FileKind::Foreign) {
        const InterchangeSpectrum& f = file.foreign;
        record["name"] = f.title;
        record["points"] = f.x.size();
        record["x_range"] = {JsonFloat(f.x.front()), JsonFloat(f.x.back())};
        // What the file says about the measurement, where it says it.
        if (f.laserNm > 0) record["laser_nm"] = f.laserNm;
        if (f.integrationMs > 0) record["integration_ms"] = f.integrationMs;
        if (!f.date.empty()) record["date"] = f.date;
        if (!f.instrument.empty()) record["instrument"] = f.instrument;
        if (!f.serial.empty()) record["serial"] = f.serial;
        if (f.averages > 0) record["averages"] = f.averages;
        if (!f.operatorName.empty()) record["operator"] = f.operatorName;
        if (!f.notes.empty()) record["notes"] = f.notes;
        if (!f.yUnits.empty()) record["y_units"] = f.yUnits;
        if (!file.notice.empty()) record["notice"] = file.notice;
        if (!f.fields.empty()) {
            Json fields = Json::array();
            for (const auto& [key, value] : f.fields)
                fields.push_back(Json{{"key", key}, {"value", value}});
            record["fields"] = fields;
        }
        return record;
    }
    const SpectrumHeader& h = file.header;
    record["name"] = h.name();
    record["date"] = h.dateText();
    record["model"] = h.modelCode();
    if (file.kind == FileKind::Raw) {
        const RawFileRecord& r = file.raw;
        record["frame"] = r.frameLength;
        record["laser_nm"] = JsonFloat(r.laserWavelength);
        record["laser_pixel"] = r.laserPixel;
        record["window"] = {r.windowStart, r.windowEnd};
        record["saturated"] = SaturatedPixelCount(r);
        // From the sidecar beside the file.
        if (!file.sample.sampleName.empty()) record["sample_name"] = file.sample.sampleName;
        if (!file.sample.operatorName.empty()) record["operator"] = file.sample.operatorName;
        if (!file.sample.notes.empty()) record["notes"] = file.sample.notes;
        if (file.capture.integrationMs) record["integration_ms"] = *file.capture.integrationMs;
        if (!file.capture.serial.empty()) record["serial"] = file.capture.serial;
        if (file.capture.averages > 0) record["averages"] = file.capture.averages;
    } else {
        record["points"] = file.axis.size();
    }
    return record;
}

std::string ValueText(const Json& value) {
    if (value.is_string()) return Shown(value.get<std::string>());
    if (value.is_number_float()) return FloatText(static_cast<float>(value.get<double>()));
    if (!value.is_array()) return value.dump();
    std::string text;
    for (const Json& item : value)
        text += (text.empty() ? "" : " ") + ValueText(item);
    return text;
}

// "key: value" lines and a blank line: names escaped, numbers as in JSON,
// a list's items separated by spaces.
std::string FieldsText(const Json& record) {
    std::string text;
    for (const auto& [key, value] : record.items()) {
        // The header block of another program's file, one "field:" line each.
        if (key == "fields") {
            for (const Json& field : value)
                text += "field: " + Shown(field["key"].get<std::string>()) + " = " +
                        Shown(field["value"].get<std::string>()) + "\n";
            continue;
        }
        text += key + ": " + ValueText(value) + "\n";
    }
    return text + "\n";
}

int RunInfo(const InfoValues& v, const CliStreams& io) {
    int status = kExitOk;
    Json files = Json::array();
    for (const std::string& path : v.files) {
        auto file = std::make_unique<SpectrumFile>();
        if (!LoadAnySpectrum(path, v.read, *file, io)) {
            status = kExitFailure;
            continue;
        }
        Json record = InfoRecord(path, *file);
        if (v.json)
            files.push_back(std::move(record));
        else
            io.out << FieldsText(record);
    }
    if (v.json) io.out << JsonText(Json{{"files", files}});
    return status;
}

} // namespace

Command DefineInfo(CLI::App& tool) {
    auto v = std::make_shared<InfoValues>();
    CLI::App* app = AddCommand(tool, "info", "header fields of raw spectra, libraries and other programs' spectra", R"(
Prints "key: value" lines for each raw spectrum (.rsd), PC library or device
library record (.rlb), CSV or text (.csv, .txt, .tsv), JCAMP-DX (.jdx, .dx, .jcamp)
or SPC (.spc) spectrum, each file followed by a blank line. A file that cannot be
read is named on standard error, and the others are still printed (exit status 1).)");
    app->add_option("FILE", v->files, "the files; - reads standard input")->required()->type_name("FILE");
    AddReadOptions(*app, v->read);
    AddJsonFlag(*app, v->json);
    return DefineCommand(app, v, RunInfo);
}

} // namespace veltrane
