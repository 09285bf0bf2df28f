#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace veltrane {

// Helpers the text formats share.

// The lines of a text one at a time, without their ends (LF, CRLF or CR),
// after a UTF-8 byte-order mark if there is one. Walking the text instead of
// listing its lines keeps a file of millions of blank lines from costing
// many times its size.
class TextLineCursor {
public:
    explicit TextLineCursor(std::string_view text);
    // The next line; false at the end of the text.
    bool next(std::string_view& line);
    // 1-based number of the line `next` gave last.
    std::size_t number() const { return number_; }
    // The text from the start of the next line to the end.
    std::string_view rest() const { return text_.substr(position_); }

private:
    std::string_view text_;
    std::size_t position_ = 0;
    std::size_t number_ = 0;
};

// UTF-16 text with its byte-order mark (either byte order) as UTF-8, an
// unpaired surrogate as U+FFFD; false when `bytes` does not
// start with a UTF-16 byte-order mark.
bool Utf8OfUtf16(std::string_view bytes, std::string& utf8);

// "&amp;", "&lt;", "&gt;", "&quot;", "&apos;", "&#183;" and "&#xB7;" as the
// characters they stand for (UTF-8); anything else is left as written.
std::string DecodeEntities(std::string_view text);

// Free text (a name, notes of several lines) as one line of a header block
// that the readers' DecodeEntities gives back unchanged: '&', control
// characters, the "$$" that opens a JCAMP-DX comment, blanks at either end
// and a leading quote as entities. Other programs show the line as written.
std::string OneLineText(std::string_view text);

std::string_view TrimSpaces(std::string_view s);

// The letters and digits of a name or key, lower case: "Raman Shift (cm-1)"
// and "raman_shift_cm-1" both become "ramanshiftcm1", so that names the
// programs of different makers spell differently compare equal.
std::string PlainName(std::string_view name);

// A whole field as a finite decimal number ("+1.5", "-2e3", ".5"); false
// for anything else, including NaN and infinities.
bool ParseDecimal(std::string_view field, double& value);

// The shortest decimal text that reads back as exactly this float32.
std::string ShortestText(float value);

} // namespace veltrane
