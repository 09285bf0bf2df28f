#include "interchange/jcamp.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <numeric>

#include "interchange/header_fields.h"
#include "interchange/text_values.h"

namespace veltrane {

namespace {

// ---- labelled data records ----------------------------------------------------

struct Record {
    std::string label;     // normalised: upper case, no spaces, '-', '/' or '_'
    std::string value;     // first line, trimmed, comment removed
    std::string_view body; // the lines after it up to the next record
    std::size_t firstLine = 0; // 1-based number of the first line of `body`
};

std::string_view WithoutComment(std::string_view line) {
    std::size_t comment = line.find("$$");
    return comment == std::string_view::npos ? line : line.substr(0, comment);
}

std::string NormalLabel(std::string_view label) {
    std::string out;
    for (char c : label) {
        if (c == ' ' || c == '-' || c == '/' || c == '_' || c == '\t') continue;
        out += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    return out;
}

std::string Upper(std::string_view text) {
    std::string out(TrimSpaces(text));
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

// A record keeps its lines as one stretch of the text, walked again when
// read, so that blank lines cost nothing.
std::vector<Record> Records(std::string_view text) {
    std::vector<Record> records;
    TextLineCursor cursor(text);
    std::string_view raw;
    auto close = [&](const char* end) {
        if (!records.empty()) {
            Record& last = records.back();
            last.body = std::string_view(last.body.data(), static_cast<std::size_t>(end - last.body.data()));
        }
    };
    while (cursor.next(raw)) {
        std::string_view line = TrimSpaces(raw);
        if (line.substr(0, 2) != "##") continue;
        close(raw.data());
        std::size_t eq = line.find('=');
        Record r;
        r.label = NormalLabel(line.substr(2, eq == std::string_view::npos ? eq : eq - 2));
        if (eq != std::string_view::npos) r.value = std::string(TrimSpaces(WithoutComment(line.substr(eq + 1))));
        r.firstLine = cursor.number() + 1;
        r.body = cursor.rest();
        records.push_back(std::move(r));
    }
    if (!records.empty()) close(records.back().body.data() + records.back().body.size());
    return records;
}

struct Failure {
    std::string message;
};

std::string LineText(std::size_t n) {
    return "Line " + std::to_string(n) + ": ";
}

// ---- ASDF ---------------------------------------------------------------------

enum class Kind : std::uint8_t { Value, Dif, Dup };

struct Token {
    Kind kind;
    double value;
};

bool Digit(char c) {
    return c >= '0' && c <= '9';
}

// Splits one line of compressed or plain numbers into tokens. Returns an
// empty message on success.
std::string Tokenize(std::string_view line, std::vector<Token>& tokens) {
    tokens.clear();
    std::size_t i = 0;
    const std::size_t n = line.size();
    while (i < n) {
        char c = line[i];
        if (c == ' ' || c == '\t' || c == ',' || c == ';') {
            ++i;
            continue;
        }
        if (c == '?') return "missing values (?) are not read.";
        Kind kind = Kind::Value;
        std::string text;
        bool affn = false;
        if (c == '+' || c == '-' || c == '.' || Digit(c)) {
            affn = true;
            text += c;
        } else if (c == '@') {
            text = "0";
        } else if (c >= 'A' && c <= 'I') {
            text = std::string(1, static_cast<char>('1' + (c - 'A')));
        } else if (c >= 'a' && c <= 'i') {
            text = "-" + std::string(1, static_cast<char>('1' + (c - 'a')));
        } else if (c == '%') {
            kind = Kind::Dif;
            text = "0";
        } else if (c >= 'J' && c <= 'R') {
            kind = Kind::Dif;
            text = std::string(1, static_cast<char>('1' + (c - 'J')));
        } else if (c >= 'j' && c <= 'r') {
            kind = Kind::Dif;
            text = "-" + std::string(1, static_cast<char>('1' + (c - 'j')));
        } else if (c >= 'S' && c <= 'Z') {
            kind = Kind::Dup;
            text = std::string(1, static_cast<char>('1' + (c - 'S')));
        } else if (c == 's') {
            kind = Kind::Dup;
            text = "9";
        } else {
            return std::string("unexpected character '") + c + "'.";
        }
        ++i;
        while (i < n) {
            char d = line[i];
            if (Digit(d) || d == '.') {
                text += d;
                ++i;
            } else if (affn && (d == 'E' || d == 'e') && i + 2 < n && (line[i + 1] == '+' || line[i + 1] == '-') &&
                       Digit(line[i + 2])) {
                // An exponent only with its sign: "E3" would be SQZ +53.
                text += 'E';
                text += line[i + 1];
                i += 2;
            } else {
                break;
            }
        }
        double value = 0.0;
        if (!ParseDecimal(text, value)) return "\"" + text + "\" is not a number.";
        if (kind == Kind::Dup && (value < 1.0 || value != std::floor(value))) return "bad DUP count.";
        tokens.push_back({kind, value});
    }
    return {};
}

std::size_t DecimalsOf(std::string_view text) {
    std::size_t dot = text.find('.');
    if (dot == std::string_view::npos) return 0;
    std::size_t end = text.find_first_of("eE", dot);
    if (end == std::string_view::npos) end = text.size();
    return end - dot - 1;
}

// Half a unit in the last place the text was written with: how far a
// printed value may lie from the one it stands for.
double PrintedTolerance(std::string_view text, double value) {
    std::size_t decimals = DecimalsOf(text);
    int exponent = 0;
    std::size_t e = text.find_first_of("eE");
    if (e != std::string_view::npos && e + 1 < text.size()) {
        std::size_t from = e + 1 + (text[e + 1] == '+' ? 1 : 0);
        std::from_chars(text.data() + from, text.data() + text.size(), exponent);
    }
    exponent = std::clamp(exponent, -300, 300);
    return 0.5 * std::pow(10.0, static_cast<double>(exponent) - static_cast<double>(decimals)) +
           1e-9 * std::fabs(value);
}

// ---- one block ------------------------------------------------------------------

struct Block {
    std::map<std::string, std::string> labels;
    const Record* data = nullptr;
    std::string title;
};

bool Number(const Block& block, const std::string& label, double& value, std::string& text) {
    auto it = block.labels.find(label);
    if (it == block.labels.end()) return false;
    text = it->second;
    return ParseDecimal(TrimSpaces(text), value);
}

// A label that must be a number when present; `present` says whether it was.
bool OptionalNumber(const Block& block, const std::string& label, double& value, bool& present, Failure& failure) {
    std::string text;
    present = block.labels.count(label) > 0;
    if (!present) return true;
    if (Number(block, label, value, text)) return true;
    failure.message = "##" + label + " is not a number.";
    return false;
}

bool DecodeXyData(const Block& block, std::vector<double>& xs, std::vector<double>& ys, Failure& failure) {
    const Record& data = *block.data;
    std::string form = NormalLabel(data.value);
    if (form != "(X++(Y..Y))") {
        failure.message = "##XYDATA=" + data.value + " is not read.";
        return false;
    }
    double firstX = 0, lastX = 0, npoints = 0, xFactor = 1, yFactor = 1, deltaX = 0, firstY = 0;
    bool has = false;
    std::string text;
    for (const char* required : {"FIRSTX", "LASTX", "NPOINTS"}) {
        double value = 0;
        if (!Number(block, required, value, text)) {
            failure.message = std::string("##") + required + " is missing or not a number.";
            return false;
        }
    }
    Number(block, "FIRSTX", firstX, text);
    Number(block, "LASTX", lastX, text);
    Number(block, "NPOINTS", npoints, text);
    if (npoints < 1 || npoints != std::floor(npoints) || npoints > static_cast<double>(kMaxInterchangePoints)) {
        failure.message = "##NPOINTS=" + text + " is not a usable count.";
        return false;
    }
    if (!OptionalNumber(block, "XFACTOR", xFactor, has, failure)) return false;
    if (!OptionalNumber(block, "YFACTOR", yFactor, has, failure)) return false;
    if (xFactor == 0 || yFactor == 0) {
        failure.message = "A factor of 0.";
        return false;
    }
    const auto count = static_cast<std::size_t>(npoints);
    const double step = count > 1 ? (lastX - firstX) / static_cast<double>(count - 1) : 0.0;
    bool hasDelta = false;
    if (!OptionalNumber(block, "DELTAX", deltaX, hasDelta, failure)) return false;
    if (hasDelta && count > 1) {
        // FIRSTX and LASTX are printed to a few decimals too: their rounding,
        // spread over the steps, is part of what DELTAX may differ by.
        std::string firstText, lastText;
        Number(block, "FIRSTX", firstX, firstText);
        Number(block, "LASTX", lastX, lastText);
        // A whole number is taken as exact: "##FIRSTX=100" means 100.
        auto rounding = [](std::string_view printed, double value) {
            printed = TrimSpaces(printed);
            return printed.find('.') == std::string_view::npos ? 0.0 : PrintedTolerance(printed, value);
        };
        const double endsTolerance =
            (rounding(firstText, firstX) + rounding(lastText, lastX)) / static_cast<double>(count - 1);
        Number(block, "DELTAX", deltaX, text);
        if (std::fabs(deltaX - step) > PrintedTolerance(TrimSpaces(text), deltaX) + endsTolerance) {
            failure.message = "##DELTAX=" + text + " does not agree with FIRSTX, LASTX and NPOINTS.";
            return false;
        }
    }

    // The abscissa at the start of each line may be rounded to the factor's
    // unit; it must still name its own point and not a neighbour.
    const double xTolerance = std::max(0.5 * std::fabs(xFactor), 0.5 * std::fabs(step));
    std::vector<Token> tokens;
    std::vector<double> values;
    bool checkPending = false;
    TextLineCursor lines(data.body);
    std::string_view bodyLine;
    while (lines.next(bodyLine)) {
        const std::size_t lineNumber = data.firstLine + lines.number() - 1;
        std::string error = Tokenize(WithoutComment(bodyLine), tokens);
        if (!error.empty()) {
            failure.message = LineText(lineNumber) + error;
            return false;
        }
        if (tokens.empty()) continue;
        if (tokens[0].kind != Kind::Value) {
            failure.message = LineText(lineNumber) + "the line does not begin with an X value.";
            return false;
        }
        std::size_t lineStart = values.size();
        bool difMode = false;      // the last value came from a difference
        double lastDifference = 0; // what a DUP repeats in that mode
        bool lastWasDup = true;    // nothing to repeat at the line's start
        for (std::size_t t = 1; t < tokens.size(); ++t) {
            const Token& token = tokens[t];
            if (t == 1 && checkPending) {
                if (token.kind != Kind::Value) {
                    failure.message = LineText(lineNumber) + "the Y-check value is missing.";
                    return false;
                }
                double last = values.back();
                if (std::fabs(token.value - last) > 1e-6 * std::max(1.0, std::fabs(last))) {
                    failure.message = LineText(lineNumber) + "Y-check failed.";
                    return false;
                }
                lineStart = values.size() - 1;
                difMode = false;
                lastWasDup = false;
                continue;
            }
            switch (token.kind) {
            case Kind::Value:
                values.push_back(token.value);
                difMode = false;
                lastWasDup = false;
                break;
            case Kind::Dif:
                if (values.empty()) {
                    failure.message = LineText(lineNumber) + "a difference with no value before it.";
                    return false;
                }
                values.push_back(values.back() + token.value);
                difMode = true;
                lastDifference = token.value;
                lastWasDup = false;
                break;
            case Kind::Dup: {
                if (lastWasDup || values.empty()) {
                    failure.message = LineText(lineNumber) + "a DUP count with nothing to repeat.";
                    return false;
                }
                if (token.value - 1.0 > static_cast<double>(count - std::min(count, values.size()))) {
                    failure.message = LineText(lineNumber) + "more values than ##NPOINTS.";
                    return false;
                }
                auto repeats = static_cast<std::size_t>(token.value) - 1;
                for (std::size_t k = 0; k < repeats; ++k)
                    values.push_back(difMode ? values.back() + lastDifference : values.back());
                lastWasDup = true;
                break;
            }
            }
            if (values.size() > count) {
                failure.message = LineText(lineNumber) + "more values than ##NPOINTS.";
                return false;
            }
        }
        checkPending = difMode;
        double lineX = tokens[0].value * xFactor;
        double expected = EvenX(firstX, lastX, count, lineStart);
        if (std::fabs(lineX - expected) > xTolerance + 1e-9 * std::fabs(expected)) {
            failure.message = LineText(lineNumber) + "X does not agree with FIRSTX and DELTAX.";
            return false;
        }
    }
    if (values.size() != count) {
        failure.message =
            "##NPOINTS is " + std::to_string(count) + " but the data hold " + std::to_string(values.size()) + ".";
        return false;
    }
    bool hasFirstY = false;
    if (!OptionalNumber(block, "FIRSTY", firstY, hasFirstY, failure)) return false;
    if (hasFirstY) {
        Number(block, "FIRSTY", firstY, text);
        double y0 = values[0] * yFactor;
        if (std::fabs(y0 - firstY) >
            std::max(std::fabs(yFactor), PrintedTolerance(TrimSpaces(text), firstY)) + 1e-5 * std::fabs(firstY)) {
            failure.message = "##FIRSTY=" + text + " does not agree with the data.";
            return false;
        }
    }
    xs.resize(count);
    ys.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        xs[i] = EvenX(firstX, lastX, count, i);
        ys[i] = values[i] * yFactor;
    }
    return true;
}

bool DecodePairs(const Block& block, std::vector<double>& xs, std::vector<double>& ys, Failure& failure) {
    const Record& data = *block.data;
    std::string form = NormalLabel(data.value);
    std::size_t group = 0;
    if (form == "(XY..XY)") group = 2;
    if (form == "(XYW..XYW)" || form == "(XYM..XYM)") group = 3;
    if (group == 0) {
        failure.message = "##" + data.label + "=" + data.value + " is not read.";
        return false;
    }
    double xFactor = 1, yFactor = 1;
    bool has = false;
    if (!OptionalNumber(block, "XFACTOR", xFactor, has, failure)) return false;
    if (!OptionalNumber(block, "YFACTOR", yFactor, has, failure)) return false;
    std::vector<double> numbers;
    TextLineCursor lines(data.body);
    std::string_view bodyLine;
    while (lines.next(bodyLine)) {
        std::string_view line = WithoutComment(bodyLine);
        std::size_t i = 0;
        while (i < line.size()) {
            while (i < line.size() && std::string_view(" \t,;").find(line[i]) != std::string_view::npos)
                ++i;
            std::size_t start = i;
            while (i < line.size() && std::string_view(" \t,;").find(line[i]) == std::string_view::npos)
                ++i;
            if (i == start) continue;
            std::string_view field = line.substr(start, i - start);
            double value = 0;
            if (!ParseDecimal(field, value)) {
                failure.message =
                    LineText(data.firstLine + lines.number() - 1) + "\"" + std::string(field) + "\" is not an AFFN number.";
                return false;
            }
            if (numbers.size() >= kMaxInterchangePoints * group) {
                failure.message = "Too many points.";
                return false;
            }
            numbers.push_back(value);
        }
    }
    if (numbers.size() % group != 0) {
        failure.message = "##" + data.label + " ends inside a point.";
        return false;
    }
    std::size_t count = numbers.size() / group;
    double npoints = 0;
    bool hasCount = false;
    if (!OptionalNumber(block, "NPOINTS", npoints, hasCount, failure)) return false;
    if (hasCount && npoints != static_cast<double>(count)) {
        failure.message =
            "##NPOINTS is " + block.labels.at("NPOINTS") + " but the data hold " + std::to_string(count) + ".";
        return false;
    }
    xs.resize(count);
    ys.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        xs[i] = numbers[i * group] * xFactor;
        ys[i] = numbers[i * group + 1] * yFactor;
    }
    return true;
}

ReadOutcome Refused(std::string message) {
    ReadOutcome outcome;
    outcome.message = std::move(message);
    return outcome;
}

// ---- writing ----------------------------------------------------------------------

std::string DoubleText(double value) {
    char buffer[64];
    std::to_chars_result r = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, r.ptr);
}

// The first digit of |value| replaced by the letter of `table` (index 0 for
// digit 0 and positive values, 10 onwards for negative).
std::string Compressed(long long value, const char* positive, const char* negative) {
    std::string digits = std::to_string(value < 0 ? -value : value);
    digits[0] = (value < 0 ? negative : positive)[digits[0] - '0'];
    return digits;
}

std::string Sqz(long long v) {
    return Compressed(v, "@ABCDEFGHI", "@abcdefghi");
}
std::string Dif(long long v) {
    return Compressed(v, "%JKLMNOPQR", "%jklmnopqr");
}
std::string Dup(long long count) {
    return Compressed(count, "?STUVWXYZs", "?STUVWXYZs");
}

// The power of ten that maps the largest magnitude to an integer of seven
// digits, about what float32 resolves.
int ScaleExponent(double largest) {
    if (!(largest > 0) || !std::isfinite(largest)) return 0;
    return static_cast<int>(std::floor(std::log10(largest))) - 6;
}

// v x 10^p, dividing for negative p so that whole results come out exact.
double Scaled(double v, int p) {
    return p < 0 ? v / std::pow(10.0, -p) : v * std::pow(10.0, p);
}

std::string FactorText(int p) {
    return p < 0 ? "1e" + std::to_string(p) : DoubleText(std::pow(10.0, p));
}

std::string Printable(const std::string& title) {
    std::string out = title;
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    return out;
}

// The facts of the measurement as the standard names them where it has a
// label (OWNER, LONGDATE, SPECTROMETER/DATA SYSTEM), else as user labels;
// model and serial also each on its own for readers that take them apart.
std::string Header(const InterchangeSpectrum& s) {
    std::string text = "##TITLE=" + Printable(s.title) + "\n";
    text += "##JCAMP-DX=5.01\n";
    text += "##DATA TYPE=RAMAN SPECTRUM\n";
    text += "##ORIGIN=Veltrane\n";
    text += "##OWNER=" + OneLineText(s.operatorName) + "\n";
    if (!s.date.empty()) text += "##LONGDATE=" + OneLineText(s.date) + "\n";
    if (!s.instrument.empty() || !s.serial.empty()) {
        std::string system = s.instrument;
        if (!s.serial.empty()) system += (system.empty() ? "S/N " : ", S/N ") + s.serial;
        text += "##SPECTROMETER/DATA SYSTEM=" + OneLineText(system) + "\n";
        if (!s.instrument.empty()) text += "##$MODEL=" + OneLineText(s.instrument) + "\n";
        if (!s.serial.empty()) text += "##$SERIAL NUMBER=" + OneLineText(s.serial) + "\n";
    }
    if (s.laserNm > 0) text += "##$LASER WAVELENGTH=" + ShortestText(static_cast<float>(s.laserNm)) + " $$ nm\n";
    if (s.integrationMs > 0) text += "##$INTEGRATION TIME=" + DoubleText(s.integrationMs) + " $$ ms\n";
    if (s.averages > 0) text += "##$AVERAGES=" + std::to_string(s.averages) + "\n";
    if (!s.notes.empty()) text += "##$NOTES=" + OneLineText(s.notes) + "\n";
    text += "##XUNITS=1/CM\n";
    text += "##YUNITS=ARBITRARY UNITS\n";
    return text;
}

std::string AffnText(const InterchangeSpectrum& s) {
    const std::size_t n = std::min(s.x.size(), s.y.size());
    std::string text = Header(s);
    text += "##XFACTOR=1\n";
    text += "##YFACTOR=1\n";
    text += "##NPOINTS=" + std::to_string(n) + "\n";
    text += "##FIRSTX=" + ShortestText(s.x.front()) + "\n";
    text += "##LASTX=" + ShortestText(s.x[n - 1]) + "\n";
    text += "##XYPOINTS=(XY..XY)\n";
    for (std::size_t i = 0; i < n; ++i)
        text += ShortestText(s.x[i]) + ", " + ShortestText(s.y[i]) + "\n";
    text += "##END=\n";
    return text;
}

std::string DifDupText(const InterchangeSpectrum& all) {
    // Compressed integers have no room for a value that is not a number.
    InterchangeSpectrum given = all;
    given.x.clear();
    given.y.clear();
    for (std::size_t i = 0; i < all.x.size() && i < all.y.size(); ++i) {
        if (!std::isfinite(all.x[i]) || !std::isfinite(all.y[i])) continue;
        given.x.push_back(all.x[i]);
        given.y.push_back(all.y[i]);
    }
    // The range itself must be a number for the step to be one.
    if (given.x.empty()) return {};
    auto [low, high] = std::minmax_element(given.x.begin(), given.x.end());
    if (!std::isfinite(static_cast<double>(*high) - static_cast<double>(*low))) return {};
    // X must run evenly here; points that do not are put onto as many that
    // do, over the same range.
    const InterchangeSpectrum s = EvenlySpaced(given.x, 1e-3) ? given : ResampledEvenly(given, given.x.size());
    const std::size_t n = std::min(s.x.size(), s.y.size());
    const std::vector<double> ys(s.y.begin(), s.y.begin() + static_cast<std::ptrdiff_t>(n));
    const double firstX = s.x.front(), lastX = s.x[n - 1];
    double largestY = 0;
    for (double y : ys)
        largestY = std::max(largestY, std::fabs(y));
    const int yPower = ScaleExponent(largestY);
    const int xPower = ScaleExponent(std::max(std::fabs(firstX), std::fabs(lastX)));
    std::vector<long long> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = std::isfinite(ys[i]) ? std::llround(Scaled(ys[i], -yPower)) : 0;
    const double step = n > 1 ? (lastX - firstX) / static_cast<double>(n - 1) : 0.0;
    // A space after X: "1000E5" would read as an exponent to some readers.
    auto xText = [&](std::size_t i) {
        return std::to_string(std::llround(Scaled(EvenX(firstX, lastX, n, i), -xPower))) + " ";
    };

    std::string text = Header(s);
    text += "##XFACTOR=" + FactorText(xPower) + "\n";
    text += "##YFACTOR=" + FactorText(yPower) + "\n";
    text += "##FIRSTX=" + DoubleText(firstX) + "\n";
    text += "##LASTX=" + DoubleText(lastX) + "\n";
    if (n > 1) text += "##DELTAX=" + DoubleText(step) + "\n";
    text += "##FIRSTY=" + DoubleText(Scaled(static_cast<double>(v[0]), yPower)) + "\n";
    text += "##NPOINTS=" + std::to_string(n) + "\n";
    text += "##XYDATA=(X++(Y..Y))\n";
    // Each line starts with the X and the full value of its first point; a
    // line that ended on a difference has its last point repeated there as
    // the Y-check, and a last line carries only that check.
    std::size_t i = 0;
    bool endedOnDifference = false;
    for (;;) {
        std::string line = xText(i) + Sqz(v[i]);
        std::size_t j = i + 1;
        endedOnDifference = false;
        while (j < n && line.size() < 72) {
            long long d = v[j] - v[j - 1];
            std::size_t run = 1;
            while (j + run < n && v[j + run] - v[j + run - 1] == d)
                ++run;
            line += Dif(d);
            if (run > 1) line += Dup(static_cast<long long>(run));
            j += run;
            endedOnDifference = true;
        }
        text += line + "\n";
        if (j >= n) break;
        i = j - 1;
    }
    if (endedOnDifference) text += xText(n - 1) + Sqz(v[n - 1]) + "\n";
    text += "##END=\n";
    return text;
}

} // namespace

ReadOutcome ReadJcampSpectrum(std::string_view text, double laserNm, InterchangeSpectrum& spectrum) {
    std::vector<Record> records = Records(text);
    if (records.empty() || records.front().label != "TITLE") return Refused("Not a JCAMP-DX file.");
    Block block;
    const Block* done = nullptr;
    Block chosen;
    std::string blocks;
    for (const Record& r : records) {
        if (r.label == "TITLE") {
            block = Block{};
            block.title = r.value;
        } else if (r.label == "BLOCKS") {
            blocks = r.value;
        } else if (r.label == "NTUPLES") {
            return Refused("##NTUPLES data are not read.");
        } else if (r.label == "XYDATA" || r.label == "XYPOINTS" || r.label == "PEAKTABLE") {
            if (block.data == nullptr) block.data = &r;
        } else if (r.label == "END") {
            if (block.data != nullptr) {
                chosen = block;
                done = &chosen;
                break;
            }
        } else {
            block.labels[r.label] = r.value;
        }
    }
    if (done == nullptr) {
        if (block.data != nullptr) return Refused("The file ends before ##END=.");
        return Refused("No ##XYDATA, ##XYPOINTS or ##PEAK TABLE found.");
    }

    std::string units;
    auto unitIt = chosen.labels.find("XUNITS");
    if (unitIt == chosen.labels.end()) return Refused("##XUNITS is missing.");
    units = Upper(unitIt->second);
    double toNm = 0; // 0: already Raman shift
    if (units == "NANOMETERS" || units == "NM")
        toNm = 1;
    else if (units == "MICROMETERS" || units == "MICRONS" || units == "UM")
        toNm = 1000;
    else if (units != "1/CM" && units != "CM-1" && units != "CM^-1")
        return Refused("##XUNITS=" + unitIt->second + " is not read.");
    if (toNm > 0 && !(laserNm > 0)) {
        ReadOutcome outcome;
        outcome.needsLaser = true;
        outcome.message = "X is in wavelengths: a laser wavelength is needed.";
        return outcome;
    }

    std::vector<double> xs, ys;
    Failure failure;
    bool decoded =
        chosen.data->label == "XYDATA" ? DecodeXyData(chosen, xs, ys, failure) : DecodePairs(chosen, xs, ys, failure);
    if (!decoded) return Refused(failure.message);
    if (xs.empty()) return Refused("No points.");

    std::vector<std::size_t> order(xs.size());
    std::iota(order.begin(), order.end(), 0);
    for (double& x : xs) {
        if (toNm > 0) x = RamanShiftOfWavelength(x * toNm, laserNm);
        if (!std::isfinite(x) || std::fabs(x) > kMaxMagnitude) return Refused("An X value out of range.");
    }
    for (double y : ys)
        if (!std::isfinite(y) || std::fabs(y) > kMaxMagnitude) return Refused("A Y value out of range.");
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return xs[a] < xs[b]; });

    ReadOutcome outcome;
    outcome.ok = true;
    if (!blocks.empty()) outcome.notice = "Compound file of " + blocks + " blocks: the first spectrum was read.";
    auto type = chosen.labels.find("DATATYPE");
    if (toNm == 0 && type != chosen.labels.end() && Upper(type->second).find("RAMAN") == std::string::npos) {
        if (!outcome.notice.empty()) outcome.notice += " ";
        outcome.notice += "##DATA TYPE=" + type->second + ": X read as Raman shift.";
    }
    spectrum = InterchangeSpectrum{};
    spectrum.x.resize(order.size());
    spectrum.y.resize(order.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        spectrum.x[i] = static_cast<float>(xs[order[i]]);
        spectrum.y[i] = static_cast<float>(ys[order[i]]);
    }
    for (const auto& [label, value] : chosen.labels)
        if (!value.empty()) spectrum.fields.emplace_back(label, DecodeEntities(value));
    TakeKnownFields(spectrum);
    if (toNm > 0) spectrum.laserNm = laserNm;
    spectrum.title = chosen.title;
    if (auto y = chosen.labels.find("YUNITS"); y != chosen.labels.end()) spectrum.yUnits = y->second;
    return outcome;
}

std::string WriteJcampSpectrum(const InterchangeSpectrum& spectrum, JcampForm form) {
    if (spectrum.x.empty() || spectrum.y.empty()) return {};
    return form == JcampForm::Affn ? AffnText(spectrum) : DifDupText(spectrum);
}

} // namespace veltrane
