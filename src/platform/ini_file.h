#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace veltrane {

// A whole number written by a person or by another program: optional blanks
// around it, an optional sign, then decimal digits or hex as "0x1F" or "$1F".
// Anything else (empty text, decimals such as "3000.5", stray characters) or a
// value outside the signed 64-bit range gives nothing.
std::optional<std::int64_t> ParseWholeNumber(std::string_view text);

// A Windows-style initialisation file, read and written by hand rather than
// through QSettings, which escapes blanks in key names ("Laser preheat") and so
// would not understand the files the instrument's other tools write.
//
// Every call goes to the file: reads parse it afresh, writes rewrite it at once
// through a temporary file renamed into place, so the file on disk is always
// either the old or the new version. Section and key names match regardless of
// ASCII case. A missing or unreadable file reads as empty.
class IniFile {
public:
    explicit IniFile(std::string path) : m_path(std::move(path)) {}

    const std::string& path() const { return m_path; }

    // The value without blanks around it and without one pair of enclosing
    // quotes (" or '), as Windows' profile reader gives it.
    std::string readString(std::string_view section, std::string_view key, std::string_view defaultValue) const;
    // The value when it is a whole number (see ParseWholeNumber), else the default.
    std::int64_t readInteger(std::string_view section, std::string_view key, std::int64_t defaultValue) const;

    // False when the file could not be written (the old one is then left as it
    // was) or when the names or value cannot be stored in this format: empty
    // names, line breaks, '=' in a key, ']' in a section, or a key that would
    // read back as a comment or section line.
    bool writeString(std::string_view section, std::string_view key, std::string_view value);
    bool writeInteger(std::string_view section, std::string_view key, std::int64_t value);

    // Several values, set in order, in one rewrite of the file: a write that
    // fails leaves the whole old file rather than some of the new values in
    // it. Entries that cannot be stored are left out and make the result false.
    struct Entry {
        std::string section, key, value;
    };
    bool writeStrings(const std::vector<Entry>& entries);

private:
    std::string m_path;
};

} // namespace veltrane
