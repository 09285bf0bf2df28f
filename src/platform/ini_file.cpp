#include "platform/ini_file.h"

#include "platform/file_io.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

namespace veltrane {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kBom = "\xEF\xBB\xBF";

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    }
    return true;
}

int digitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 99;
}

// One line of the file with its own terminator ("\r\n", "\n", "\r", or none
// for a last line without one), so a rewrite reproduces untouched lines byte
// for byte.
struct Line {
    std::string text;
    std::string ending;
};

struct Document {
    bool hasBom = false;
    std::vector<Line> lines;
    std::string newline = "\r\n";
};

enum class LineKind { Other, Section, Key };

struct LineInfo {
    LineKind kind = LineKind::Other;
    std::string_view name;
    std::size_t equalsPos = 0; // keys only: where the '=' is in the line
};

LineInfo classify(std::string_view line) {
    LineInfo info;
    const std::string_view body = trim(line);
    if (body.empty() || body.front() == ';' || body.front() == '#') return info;
    if (body.front() == '[') {
        // Text after the closing bracket is ignored, as other readers of these
        // files do; a line with no closing bracket is not a section.
        const std::size_t close = body.find(']');
        if (close != std::string_view::npos) {
            info.kind = LineKind::Section;
            info.name = trim(body.substr(1, close - 1));
        }
        return info;
    }
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) return info;
    const std::string_view name = trim(line.substr(0, eq));
    if (name.empty()) return info;
    info.kind = LineKind::Key;
    info.name = name;
    info.equalsPos = eq;
    return info;
}

Document parse(std::string_view content) {
    Document doc;
    if (content.substr(0, kBom.size()) == kBom) {
        doc.hasBom = true;
        content.remove_prefix(kBom.size());
    }
    // Added lines follow the file's own style; with nothing to go by, CRLF as
    // the Windows tools write.
    if (content.find("\r\n") != std::string_view::npos)
        doc.newline = "\r\n";
    else if (content.find('\n') != std::string_view::npos)
        doc.newline = "\n";

    std::size_t pos = 0;
    while (pos < content.size()) {
        const std::size_t end = content.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) {
            doc.lines.push_back({std::string(content.substr(pos)), ""});
            break;
        }
        const std::size_t endingSize =
            (content[end] == '\r' && end + 1 < content.size() && content[end + 1] == '\n') ? 2 : 1;
        doc.lines.push_back(
            {std::string(content.substr(pos, end - pos)), std::string(content.substr(end, endingSize))});
        pos = end + endingSize;
    }
    return doc;
}

std::string serialize(const Document& doc) {
    std::string out;
    if (doc.hasBom) out += kBom;
    for (const Line& line : doc.lines) {
        out += line.text;
        out += line.ending;
    }
    return out;
}

// The value of the first matching key in any section of the wanted name.
std::optional<std::string> findValue(const Document& doc, std::string_view section, std::string_view key) {
    bool inSection = false;
    for (const Line& line : doc.lines) {
        const LineInfo info = classify(line.text);
        if (info.kind == LineKind::Section) {
            inSection = equalsNoCase(info.name, section);
        } else if (info.kind == LineKind::Key && inSection && equalsNoCase(info.name, key)) {
            std::string_view value = trim(std::string_view(line.text).substr(info.equalsPos + 1));
            // Windows' profile reader drops one pair of enclosing quotes, so
            // files written for it may hold Capture="C".
            if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
                value = value.substr(1, value.size() - 2);
            return std::string(value);
        }
    }
    return std::nullopt;
}

std::optional<std::string> lookup(const std::string& path, std::string_view section, std::string_view key) {
    std::string content;
    if (ReadWholeFile(path, content) != LoadResult::Loaded) return std::nullopt;
    return findValue(parse(content), trim(section), trim(key));
}

void setValue(Document& doc, std::string_view section, std::string_view key, std::string_view value) {
    bool inSection = false;
    bool inFirstSection = false;
    std::optional<std::size_t> insertAfter; // last key line (or the header) of the first such section
    for (std::size_t i = 0; i < doc.lines.size(); ++i) {
        Line& line = doc.lines[i];
        const LineInfo info = classify(line.text);
        if (info.kind == LineKind::Section) {
            inSection = equalsNoCase(info.name, section);
            inFirstSection = inSection && !insertAfter;
            if (inFirstSection) insertAfter = i;
        } else if (info.kind == LineKind::Key && inSection) {
            if (equalsNoCase(info.name, key)) {
                // Keep the key as spelled and the blanks after '=', so a
                // hand-aligned "Exptime = 1500" stays aligned.
                std::size_t valueStart = info.equalsPos + 1;
                while (valueStart < line.text.size() && isBlank(line.text[valueStart]))
                    ++valueStart;
                line.text.replace(valueStart, std::string::npos, value);
                return;
            }
            if (inFirstSection) insertAfter = i;
        }
    }

    std::string keyLine = std::string(key) + "=" + std::string(value);
    if (insertAfter) {
        Line& anchor = doc.lines[*insertAfter];
        if (anchor.ending.empty()) anchor.ending = doc.newline;
        doc.lines.insert(doc.lines.begin() + static_cast<std::ptrdiff_t>(*insertAfter + 1),
                         Line{std::move(keyLine), doc.newline});
        return;
    }
    if (!doc.lines.empty()) {
        if (doc.lines.back().ending.empty()) doc.lines.back().ending = doc.newline;
        if (!trim(doc.lines.back().text).empty()) doc.lines.push_back({"", doc.newline});
    }
    // Built by appending: GCC 12 warns wrongly about "[" + string + "]".
    std::string header(1, '[');
    header.append(section);
    header.push_back(']');
    doc.lines.push_back({std::move(header), doc.newline});
    doc.lines.push_back({std::move(keyLine), doc.newline});
}

bool hasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

bool validSection(std::string_view section) {
    return !section.empty() && !hasLineBreak(section) && section.find(']') == std::string_view::npos;
}

bool validKey(std::string_view key) {
    return !key.empty() && !hasLineBreak(key) && key.find('=') == std::string_view::npos && key.front() != ';' &&
           key.front() != '#' && key.front() != '[';
}

} // namespace

std::optional<std::int64_t> ParseWholeNumber(std::string_view text) {
    text = trim(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    unsigned base = 10;
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    } else if (!text.empty() && text.front() == '$') {
        base = 16;
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;

    // The magnitude may reach 2^63 only for the most negative value.
    const std::uint64_t limit = negative ? (std::uint64_t{1} << 63) : (std::uint64_t{1} << 63) - 1;
    std::uint64_t magnitude = 0;
    for (const char c : text) {
        const unsigned digit = static_cast<unsigned>(digitValue(c));
        if (digit >= base) return std::nullopt;
        if (magnitude > (limit - digit) / base) return std::nullopt;
        magnitude = magnitude * base + digit;
    }
    if (negative) return static_cast<std::int64_t>(std::uint64_t{0} - magnitude);
    return static_cast<std::int64_t>(magnitude);
}

std::string IniFile::readString(std::string_view section, std::string_view key, std::string_view defaultValue) const {
    std::optional<std::string> value = lookup(m_path, section, key);
    return value ? std::move(*value) : std::string(defaultValue);
}

std::int64_t IniFile::readInteger(std::string_view section, std::string_view key, std::int64_t defaultValue) const {
    const std::optional<std::string> value = lookup(m_path, section, key);
    return value ? ParseWholeNumber(*value).value_or(defaultValue) : defaultValue;
}

bool IniFile::writeString(std::string_view section, std::string_view key, std::string_view value) {
    return writeStrings({{std::string(section), std::string(key), std::string(value)}});
}

bool IniFile::writeStrings(const std::vector<Entry>& entries) {
    std::string content;
    // A file that exists but cannot be read must not be replaced by one
    // holding only these keys.
    LoadResult loaded = ReadWholeFile(m_path, content);
    if (loaded != LoadResult::Loaded && loaded != LoadResult::Missing) return false;
    // A first run of an installed copy has no ~/.config/veltrane yet.
    if (loaded == LoadResult::Missing) {
        std::error_code error;
        std::filesystem::path folder = std::filesystem::path(m_path).parent_path();
        if (!folder.empty()) std::filesystem::create_directories(folder, error);
    }
    Document doc = parse(content);
    bool allStorable = true;
    std::size_t stored = 0;
    for (const Entry& entry : entries) {
        std::string_view section = trim(entry.section);
        std::string_view key = trim(entry.key);
        if (!validSection(section) || !validKey(key) || hasLineBreak(entry.value)) {
            allStorable = false;
            continue;
        }
        setValue(doc, section, key, entry.value);
        ++stored;
    }
    if (stored == 0) return false;
    return WriteFileAtomically(m_path, serialize(doc)) && allStorable;
}

bool IniFile::writeInteger(std::string_view section, std::string_view key, std::int64_t value) {
    return writeString(section, key, std::to_string(value));
}

} // namespace veltrane
