#include "platform/display_text.h"

namespace veltrane {

namespace {

bool continuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

// Length of the well-formed UTF-8 sequence at the start of `s`, 0 if none.
std::size_t sequenceLength(std::string_view s) {
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = b(0);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;  // no overlong forms
        if (lead == 0xED) high = 0x9F; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F; // nothing past U+10FFFF
    } else {
        return 0;
    }
    if (s.size() < length || b(1) < low || b(1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (!continuation(b(i))) return 0;
    return length;
}

bool harmless(std::string_view sequence) {
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(sequence[i]); };
    if (sequence.size() == 2 && b(0) == 0xC2 && b(1) <= 0x9F) return false; // C1 controls
    if (sequence.size() == 3 && b(0) == 0xE2 && b(1) == 0x80 && b(2) >= 0xA8 && b(2) <= 0xAE) return false;
    return true;
}

void appendHex(std::string& out, unsigned char c) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += "\\x";
    out += kHex[c >> 4];
    out += kHex[c & 0xF];
}

} // namespace

std::string EscapeControlCharacters(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            const std::size_t length = sequenceLength(text.substr(i));
            if (length > 0 && harmless(text.substr(i, length))) {
                out.append(text.substr(i, length));
                i += length;
            } else {
                for (std::size_t k = 0; k < (length > 0 ? length : 1); ++k)
                    appendHex(out, static_cast<unsigned char>(text[i + k]));
                i += length > 0 ? length : 1;
            }
            continue;
        }
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            if (c < 0x20 || c == 0x7F)
                appendHex(out, c);
            else
                out += static_cast<char>(c);
        }
        ++i;
    }
    return out;
}

} // namespace veltrane
