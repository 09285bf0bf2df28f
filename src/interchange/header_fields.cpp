#include "interchange/header_fields.h"

#include <algorithm>
#include <initializer_list>

#include "interchange/text_values.h"

namespace veltrane {

namespace {


std::string_view Unquoted(std::string_view value) {
    value = TrimSpaces(value);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    return TrimSpaces(value);
}

const std::string* Find(const InterchangeSpectrum& s, std::initializer_list<const char*> keys) {
    for (const char* key : keys)
        for (const auto& [name, value] : s.fields)
            if (PlainName(name) == key && !TrimSpaces(value).empty()) return &value;
    return nullptr;
}

} // namespace

bool HeaderField(std::string_view line, std::pair<std::string, std::string>& field) {
    line = TrimSpaces(line);
    std::string_view key, value;
    if (line.substr(0, 2) == "##") {
        line.remove_prefix(2);
        std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) return false;
        key = line.substr(0, eq);
        value = line.substr(eq + 1);
    } else {
        while (!line.empty() && (line.front() == '#' || line.front() == '%' || line.front() == ' '))
            line.remove_prefix(1);
        // The first mark that may part a key from its value; a colon also
        // sits inside times, so it counts only when nothing earlier does.
        std::size_t at = line.find_first_of("\t;,=");
        std::size_t colon = line.find(':');
        if (colon != std::string_view::npos && (at == std::string_view::npos || colon < at)) at = colon;
        key = at == std::string_view::npos ? line : line.substr(0, at);
        value = at == std::string_view::npos ? std::string_view() : line.substr(at + 1);
    }
    key = TrimSpaces(key);
    if (key.empty()) return false;
    field.first = DecodeEntities(key);
    field.second = DecodeEntities(Unquoted(value));
    return true;
}

bool LeadingNumber(std::string_view value, double& number) {
    value = Unquoted(value);
    std::size_t end = 0;
    while (end < value.size() && ((value[end] >= '0' && value[end] <= '9') || value[end] == '.' || value[end] == ',' ||
                                  value[end] == '-' || value[end] == '+' || value[end] == 'e' || value[end] == 'E'))
        ++end;
    std::string text(value.substr(0, end));
    while (!text.empty() && (text.back() == 'e' || text.back() == 'E' || text.back() == ','))
        text.pop_back();
    if (text.find('.') == std::string::npos) std::replace(text.begin(), text.end(), ',', '.');
    return ParseDecimal(text, number);
}

void TakeKnownFields(InterchangeSpectrum& s) {
    if (const std::string* title = Find(s, {"names", "name", "samplename", "sample", "title"})) s.title = *title;
    double number = 0.0;
    if (const std::string* laser = Find(s, {"laserwavelength", "laserwavelengthnm", "laserwl", "lasernm", "laser",
                                            "wl", "excitationwavelength", "excitationwavelengthnm", "excitation"}))
        if (LeadingNumber(*laser, number) && number > 100.0 && number < 3000.0) s.laserNm = number;
    for (const auto& [name, value] : s.fields) {
        const std::string key = PlainName(name);
        if (key.find("integ") == std::string::npos && key.find("intig") == std::string::npos &&
            key.find("exposure") == std::string::npos)
            continue;
        if (!LeadingNumber(value, number) || number <= 0.0) continue;
        // Milliseconds unless the key or the value says seconds.
        const std::size_t unitAt = value.find_first_not_of("0123456789.,+-eE ");
        const std::string unit = unitAt == std::string::npos ? std::string() : PlainName(value.substr(unitAt));
        const bool seconds = unit == "s" || unit == "sec" || name.find("(s)") != std::string::npos ||
                             name.find("[s]") != std::string::npos;
        s.integrationMs = seconds ? number * 1000.0 : number;
        break;
    }
    if (const std::string* date =
            Find(s, {"longdate", "date", "datetime", "timestamp", "acquisitiondate", "measurementdate", "acquired"}))
        s.date = *date;
    if (const std::string* model = Find(s, {"model", "instrument", "spectrometer", "spectrometerdatasystem", "device"}))
        s.instrument = *model;
    if (const std::string* serial = Find(s, {"serial", "serialnumber", "serialno", "sn", "instrumentserial"}))
        s.serial = *serial;
    if (const std::string* who = Find(s, {"operator", "operatorname", "owner", "analyst", "measuredby"}))
        s.operatorName = *who;
    if (const std::string* notes = Find(s, {"notes", "note", "comments", "comment", "remarks"})) s.notes = *notes;
    if (const std::string* averages = Find(s, {"averages", "average", "numberofaverages", "accumulations"}))
        if (LeadingNumber(*averages, number) && number >= 1.0 && number <= 1e6) s.averages = static_cast<int>(number);
}

} // namespace veltrane
