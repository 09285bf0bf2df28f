#include "interchange/text_values.h"

#include <charconv>
#include <cmath>
#include <cstdint>

namespace veltrane {

TextLineCursor::TextLineCursor(std::string_view text) : text_(text) {
    if (text_.substr(0, 3) == "\xEF\xBB\xBF") text_.remove_prefix(3);
}

bool TextLineCursor::next(std::string_view& line) {
    if (position_ >= text_.size()) return false;
    std::size_t end = text_.find_first_of("\r\n", position_);
    if (end == std::string_view::npos) end = text_.size();
    line = text_.substr(position_, end - position_);
    position_ = end;
    if (position_ < text_.size()) {
        if (text_[position_] == '\r' && position_ + 1 < text_.size() && text_[position_ + 1] == '\n') ++position_;
        ++position_;
    }
    ++number_;
    return true;
}

namespace {

void AppendUtf8(std::uint32_t c, std::string& out) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

} // namespace

bool Utf8OfUtf16(std::string_view bytes, std::string& utf8) {
    if (bytes.size() < 2) return false;
    const auto b0 = static_cast<unsigned char>(bytes[0]), b1 = static_cast<unsigned char>(bytes[1]);
    bool little = b0 == 0xFF && b1 == 0xFE;
    if (!little && !(b0 == 0xFE && b1 == 0xFF)) return false;
    utf8.clear();
    utf8.reserve(bytes.size() / 2);
    auto unit = [&](std::size_t i) -> std::uint32_t {
        const auto lo = static_cast<unsigned char>(bytes[little ? i : i + 1]);
        const auto hi = static_cast<unsigned char>(bytes[little ? i + 1 : i]);
        return static_cast<std::uint32_t>(hi) << 8 | lo;
    };
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
        std::uint32_t c = unit(i);
        if (c >= 0xD800 && c < 0xDC00 && i + 3 < bytes.size()) {
            std::uint32_t low = unit(i + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                AppendUtf8(0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00), utf8);
                i += 2;
                continue;
            }
        }
        AppendUtf8(c >= 0xD800 && c < 0xE000 ? 0xFFFD : c, utf8);
    }
    return true;
}

std::string DecodeEntities(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::size_t semi = text[i] == '&' ? text.find(';', i) : std::string_view::npos;
        if (semi == std::string_view::npos || semi - i > 10) {
            out += text[i];
            continue;
        }
        std::string_view name = text.substr(i + 1, semi - i - 1);
        std::uint32_t c = 0;
        bool known = true;
        if (name == "amp") c = '&';
        else if (name == "lt") c = '<';
        else if (name == "gt") c = '>';
        else if (name == "quot") c = '"';
        else if (name == "apos") c = '\'';
        else if (name.size() > 1 && name[0] == '#') {
            const bool hex = name[1] == 'x' || name[1] == 'X';
            std::string_view digits = name.substr(hex ? 2 : 1);
            auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), c, hex ? 16 : 10);
            known = ec == std::errc() && end == digits.data() + digits.size() && !digits.empty() && c > 0 &&
                    c < 0x110000 && !(c >= 0xD800 && c < 0xE000);
        } else {
            known = false;
        }
        if (!known) {
            out += text[i];
            continue;
        }
        AppendUtf8(c, out);
        i = semi;
    }
    return out;
}

std::string OneLineText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        // The readers trim blanks around a value and take off a pair of
        // quotes around it; kept as entities, they stay part of the text.
        const bool atEnd = i == 0 || i + 1 == text.size();
        if (c == 0)
            out += "&#65533;"; // no entity stands for a zero byte
        else if (c < 0x20 || c == 0x7F || c == '&' || (c == '$' && i + 1 < text.size() && text[i + 1] == '$') ||
                 (atEnd && c == ' ') || (i == 0 && c == '"'))
            out += "&#" + std::to_string(c) + ";";
        else
            out += static_cast<char>(c);
    }
    return out;
}

std::string PlainName(std::string_view name) {
    std::string out;
    for (char c : name) {
        if (c >= 'A' && c <= 'Z') out += static_cast<char>(c - 'A' + 'a');
        else if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) out += c;
    }
    return out;
}

std::string_view TrimSpaces(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

bool ParseDecimal(std::string_view field, double& value) {
    if (field.empty()) return false;
    // from_chars takes no '+', and would take "inf" and "nan".
    if (field.front() == '+') field.remove_prefix(1);
    if (field.empty() || field.front() == '+') return false;
    for (char c : field)
        if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E')) return false;
    double parsed = 0.0;
    auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), parsed);
    if (ec != std::errc() || end != field.data() + field.size() || !std::isfinite(parsed)) return false;
    value = parsed;
    return true;
}

std::string ShortestText(float value) {
    char buffer[64];
    std::to_chars_result r = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, r.ptr);
}

} // namespace veltrane
