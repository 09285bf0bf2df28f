#include "interchange/delimited_text.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "interchange/header_fields.h"
#include "interchange/text_values.h"

namespace veltrane {

namespace {

enum class Separator : std::uint8_t { Tab, Semicolon, Comma, Spaces };

Separator SeparatorOf(std::string_view line) {
    if (line.find('\t') != std::string_view::npos) return Separator::Tab;
    if (line.find(';') != std::string_view::npos) return Separator::Semicolon;
    if (line.find(',') != std::string_view::npos) return Separator::Comma;
    return Separator::Spaces;
}

bool IsComment(std::string_view line) {
    line = TrimSpaces(line);
    return line.empty() || line.front() == '#' || line.front() == '%' || line.substr(0, 2) == "//";
}

void Fields(std::string_view line, Separator sep, std::vector<std::string_view>& fields) {
    fields.clear();
    if (sep == Separator::Spaces) {
        std::size_t i = 0;
        while (i < line.size()) {
            while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
                ++i;
            std::size_t start = i;
            while (i < line.size() && line[i] != ' ' && line[i] != '\t')
                ++i;
            if (i > start) fields.push_back(line.substr(start, i - start));
        }
        return;
    }
    char c = sep == Separator::Tab ? '\t' : sep == Separator::Semicolon ? ';' : ',';
    std::size_t start = 0;
    for (;;) {
        std::size_t end = line.find(c, start);
        fields.push_back(TrimSpaces(line.substr(start, end == std::string_view::npos ? end : end - start)));
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    // A separator at the end of every line is common in spreadsheet output.
    if (fields.size() > 2 && fields.back().empty()) fields.pop_back();
}

std::string_view Unquoted(std::string_view field) {
    if (field.size() >= 2 && field.front() == '"' && field.back() == '"') field = TrimSpaces(field.substr(1, field.size() - 2));
    return field;
}

bool ParseField(std::string_view field, Separator sep, double& value) {
    field = Unquoted(field);
    if (sep != Separator::Comma && field.find(',') != std::string_view::npos) {
        // A decimal comma, never both marks: "1.234,5" is ambiguous.
        if (field.find('.') != std::string_view::npos) return false;
        std::string text(field);
        std::replace(text.begin(), text.end(), ',', '.');
        return ParseDecimal(text, value);
    }
    return ParseDecimal(field, value);
}

// A row of numbers: two cells or more, the first a number, every other one
// a number or empty.
bool IsDataRow(const std::vector<std::string_view>& fields, Separator sep) {
    if (fields.size() < 2) return false;
    double v = 0.0;
    if (!ParseField(fields[0], sep, v)) return false;
    for (std::string_view f : fields)
        if (!Unquoted(f).empty() && !ParseField(f, sep, v)) return false;
    return true;
}


bool Has(const std::string& s, const char* part) {
    return s.find(part) != std::string::npos;
}
bool Starts(const std::string& s, const char* part) {
    return s.rfind(part, 0) == 0;
}

enum class XKind : std::uint8_t { None, Shift, Wavenumber, Wavelength };

XKind KindOfX(const std::string& n) {
    if (Has(n, "ramanshift") || n == "shift" || Starts(n, "shiftcm")) return XKind::Shift;
    if (Starts(n, "wavenumber") || n == "wn" || n == "x" || n == "cm1" || n == "1cm") return XKind::Wavenumber;
    if (Starts(n, "wavelength") || n == "nm" || n == "lambda" || Starts(n, "lambdanm")) return XKind::Wavelength;
    return XKind::None;
}

// How well a column name says "the spectrum": 1 the processed signal, 2 an
// intensity, 3 the raw signal, 4 a name that says nothing either way, 0 a
// column that is never the spectrum.
int RankOfY(const std::string& n) {
    if (Has(n, "subtracted") || Has(n, "processed") || Has(n, "corrected") || Has(n, "baselineremoved")) return 1;
    if (KindOfX(n) != XKind::None || Starts(n, "pixel") || Starts(n, "index") || Starts(n, "dark") ||
        Starts(n, "background") || Starts(n, "reference") || Starts(n, "tr") || Starts(n, "absorbance") ||
        Starts(n, "irradiance") || Starts(n, "transmittance") || Starts(n, "reflectance"))
        return 0;
    if (Has(n, "intensity") || Has(n, "counts") || Has(n, "signal") || n == "y" || Has(n, "raman")) return 2;
    if (Has(n, "raw")) return 3;
    return 4;
}

ReadOutcome Refuse(std::string message) {
    ReadOutcome outcome;
    outcome.message = std::move(message);
    return outcome;
}

std::string LineText(std::size_t n) {
    return "Line " + std::to_string(n);
}

// A column by name (any case, or the same letters and digits) or 1-based
// number.
std::optional<std::size_t> ColumnNamed(const std::string& wanted, const std::vector<std::string>& names,
                                       std::size_t count) {
    double number = 0.0;
    if (ParseDecimal(TrimSpaces(wanted), number)) {
        if (number >= 1 && number <= static_cast<double>(count) && number == std::floor(number))
            return static_cast<std::size_t>(number) - 1;
        return std::nullopt;
    }
    for (std::size_t i = 0; i < names.size(); ++i)
        if (PlainName(names[i]) == PlainName(wanted) && !PlainName(wanted).empty()) return i;
    return std::nullopt;
}

struct Choice {
    std::size_t x = 0;
    std::size_t y = 1;
    XKind kind = XKind::Shift;
};

// Chooses X and Y by the column names; `outcome` gets the notice and
// whether the choice was a guess.
std::optional<std::string> ChooseByName(const std::vector<std::string>& names, std::size_t count, Choice& choice,
                                        ReadOutcome& outcome) {
    if (names.empty()) {
        if (count > 2) {
            outcome.notice = "The file has " + std::to_string(count) + " columns; the first two were read.";
            outcome.columnsUnclear = true;
        }
        return std::nullopt;
    }
    std::vector<std::string> plain;
    for (const std::string& n : names)
        plain.push_back(PlainName(n));
    std::optional<std::size_t> x;
    for (XKind kind : {XKind::Shift, XKind::Wavenumber, XKind::Wavelength}) {
        for (std::size_t i = 0; i < plain.size() && !x; ++i)
            if (KindOfX(plain[i]) == kind) x = i, choice.kind = kind;
        if (x) break;
    }
    if (!x) {
        // No column says what X is: the first one whose name says nothing
        // either way, taken as Raman shifts.
        for (std::size_t i = 0; i < plain.size() && !x; ++i)
            if (RankOfY(plain[i]) == 4) x = i;
        if (!x) return "No column of Raman shifts or wavelengths found.";
        choice.kind = XKind::Shift;
        outcome.columnsUnclear = true;
    }
    choice.x = *x;
    int best = 0;
    std::size_t ties = 0;
    std::optional<std::size_t> y;
    for (std::size_t i = 0; i < count; ++i) {
        if (i == choice.x) continue;
        int rank = i < plain.size() ? RankOfY(plain[i]) : 4;
        if (rank == 0) continue;
        if (!y || rank < best) y = i, best = rank, ties = 1;
        else if (rank == best) ++ties;
    }
    if (!y) return "No column of intensities found.";
    choice.y = *y;
    if (best == 4) outcome.columnsUnclear = true;
    if (ties > 1) {
        outcome.notice = "The file holds " + std::to_string(ties) + " spectra; the first, \"" +
                         (choice.y < names.size() ? names[choice.y] : std::string()) + "\", was read.";
        outcome.columnsUnclear = true;
    }
    return std::nullopt;
}

} // namespace

ReadOutcome ReadDelimitedSpectrum(std::string_view text, double laserNm, const ColumnChoice& columns,
                                  InterchangeSpectrum& spectrum) {
    // The head: facts and the row naming the columns, up to the first row
    // of numbers.
    InterchangeSpectrum read;
    TextLineCursor cursor(text);
    std::string_view line, lastText, firstRow;
    std::size_t lastTextField = 0;
    bool lastTextHasField = false;
    std::vector<std::string_view> fields;
    Separator sep = Separator::Spaces;
    std::size_t firstRowNumber = 0;
    while (cursor.next(line)) {
        if (TrimSpaces(line).empty()) continue;
        if (!IsComment(line)) {
            Separator candidate = SeparatorOf(line);
            Fields(line, candidate, fields);
            if (IsDataRow(fields, candidate)) {
                sep = candidate;
                firstRow = line;
                firstRowNumber = cursor.number();
                break;
            }
            lastText = line;
            lastTextHasField = false;
        }
        std::pair<std::string, std::string> field;
        if (HeaderField(line, field) && !field.second.empty() && read.fields.size() < 10000) {
            if (!IsComment(line)) lastTextField = read.fields.size(), lastTextHasField = true;
            read.fields.push_back(std::move(field));
        }
    }
    if (firstRow.empty()) return Refuse("No two columns of numbers found.");
    Fields(firstRow, sep, fields);
    std::size_t count = fields.size();

    std::vector<std::string> names;
    if (!lastText.empty()) {
        std::vector<std::string_view> cells;
        Fields(lastText, sep, cells);
        double v = 0.0;
        bool named = cells.size() >= 2 && std::none_of(cells.begin(), cells.end(), [&](std::string_view c) {
                         return ParseField(c, sep, v);
                     });
        if (named) {
            bool known = false;
            for (std::string_view c : cells) {
                names.emplace_back(Unquoted(c));
                known = known || KindOfX(PlainName(c)) != XKind::None || RankOfY(PlainName(c)) < 4;
            }
            count = std::max(count, names.size());
            // A row that names the columns is no fact about the measurement.
            if (known && lastTextHasField) read.fields.erase(read.fields.begin() + static_cast<long>(lastTextField));
        }
    }
    TakeKnownFields(read);

    ReadOutcome outcome;
    outcome.columns = names;
    Choice choice;
    if (!columns.x.empty() || !columns.y.empty()) {
        Choice byName;
        ReadOutcome guess;
        if (auto failure = ChooseByName(names, count, byName, guess); !failure) choice = byName;
        for (auto [wanted, index] : {std::pair{&columns.x, &choice.x}, std::pair{&columns.y, &choice.y}}) {
            if (wanted->empty()) continue;
            std::optional<std::size_t> found = ColumnNamed(*wanted, names, count);
            if (!found) return Refuse("No column \"" + *wanted + "\" in the file.");
            *index = *found;
        }
        if (!columns.x.empty()) {
            XKind kind = choice.x < names.size() ? KindOfX(PlainName(names[choice.x])) : XKind::None;
            choice.kind = kind == XKind::None ? XKind::Shift : kind;
        }
        if (choice.x == choice.y) return Refuse("X and Y are the same column.");
    } else if (auto failure = ChooseByName(names, count, choice, outcome)) {
        return Refuse(*failure);
    }

    // The rows.
    std::vector<float> xs, ys;
    TextLineCursor rows(text.substr(static_cast<std::size_t>(firstRow.data() - text.data())));
    const std::size_t lineBase = firstRowNumber - 1;
    const bool twoColumns = count == 2;
    while (rows.next(line)) {
        if (IsComment(line)) continue;
        Fields(line, sep, fields);
        const std::size_t number = lineBase + rows.number();
        std::string_view xCell = choice.x < fields.size() ? Unquoted(fields[choice.x]) : std::string_view();
        std::string_view yCell = choice.y < fields.size() ? Unquoted(fields[choice.y]) : std::string_view();
        double x = 0.0, y = 0.0, first = 0.0;
        if (fields.empty() || !ParseField(fields[0], sep, first) || (twoColumns && fields.size() != 2))
            return Refuse(LineText(number) + (twoColumns ? " is not two numbers." : " is not a row of numbers."));
        if (xCell.empty() || yCell.empty()) continue;
        if (!ParseField(xCell, sep, x) || !ParseField(yCell, sep, y))
            return Refuse(LineText(number) + (twoColumns ? " is not two numbers." : " is not a row of numbers."));
        if (std::fabs(x) > kMaxMagnitude || std::fabs(y) > kMaxMagnitude)
            return Refuse(LineText(number) + " holds a number out of range.");
        if (xs.size() >= kMaxInterchangePoints) return Refuse("Too many points.");
        xs.push_back(static_cast<float>(x));
        ys.push_back(static_cast<float>(y));
    }
    if (xs.size() < 2) return Refuse("No two columns of numbers found.");

    // Wavenumbers that no Raman shift reaches are absolute ones.
    if (choice.kind == XKind::Wavenumber && *std::min_element(xs.begin(), xs.end()) > 5000.0f)
        choice.kind = XKind::Wavelength, std::transform(xs.begin(), xs.end(), xs.begin(), [](float k) {
            return static_cast<float>(1e7 / k);
        });
    if (choice.kind == XKind::Wavelength) {
        const double laser = laserNm > 0.0 ? laserNm : read.laserNm;
        if (!(laser > 0.0)) {
            ReadOutcome needs = Refuse("X is in wavelengths: a laser wavelength is needed.");
            needs.needsLaser = true;
            needs.columns = names;
            return needs;
        }
        for (float& x : xs) {
            if (!(x > 0.0f)) return Refuse("A wavelength of 0 nm or less.");
            x = static_cast<float>(RamanShiftOfWavelength(x, laser));
        }
        read.laserNm = laser;
    }
    bool ascending = std::is_sorted(xs.begin(), xs.end());
    bool descending = std::is_sorted(xs.rbegin(), xs.rend());
    if (!ascending && !descending) return Refuse("The X values are neither ascending nor descending.");
    if (xs.front() == xs.back()) return Refuse("The X values do not change.");
    if (!ascending) {
        std::reverse(xs.begin(), xs.end());
        std::reverse(ys.begin(), ys.end());
    }
    read.x = std::move(xs);
    read.y = std::move(ys);
    spectrum = std::move(read);
    outcome.columnCount = count;
    outcome.xColumn = choice.x;
    outcome.yColumn = choice.y;
    outcome.ok = true;
    return outcome;
}

std::string WriteCsvSpectrum(const InterchangeSpectrum& spectrum) {
    const InterchangeSpectrum& s = spectrum;
    std::string text;
    auto line = [&](const char* key, const std::string& value) {
        if (!value.empty()) text += std::string("# ") + key + ": " + OneLineText(value) + "\n";
    };
    // Comment lines, which the readers of tables skip, and ours reads back
    // as the same facts.
    if (!s.operatorName.empty() || !s.notes.empty() || !s.date.empty() || !s.instrument.empty() || !s.serial.empty() ||
        s.laserNm > 0 || s.integrationMs > 0 || s.averages > 0) {
        line("Title", s.title);
        line("Operator", s.operatorName);
        line("Date", s.date);
        line("Instrument", s.instrument);
        line("Serial number", s.serial);
        if (s.laserNm > 0) line("Laser wavelength (nm)", ShortestText(static_cast<float>(s.laserNm)));
        if (s.integrationMs > 0) line("Integration time (ms)", ShortestText(static_cast<float>(s.integrationMs)));
        if (s.averages > 0) line("Averages", std::to_string(s.averages));
        line("Notes", s.notes);
    }
    text += "raman_shift_cm-1,intensity\n";
    for (std::size_t i = 0; i < spectrum.x.size() && i < spectrum.y.size(); ++i)
        text += ShortestText(spectrum.x[i]) + "," + ShortestText(spectrum.y[i]) + "\n";
    return text;
}

} // namespace veltrane
