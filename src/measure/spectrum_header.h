#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace veltrane {

constexpr std::size_t kHeaderSize = 120;
constexpr std::size_t kNameFieldSize = 64;

struct LocalDateTime {
    int year, month, day, hour, minute, second;
};
// The current local date and time, each field as the calendar shows it.
LocalDateTime CurrentLocalDateTime();

// The 120-byte header of raw spectrum files and library files, kept as its
// bytes so that fields the program does not interpret pass through unchanged.
struct SpectrumHeader {
    std::array<std::uint8_t, kHeaderSize> bytes{};

    // The name's bytes up to the first zero, at most 64.
    std::string name() const;
    // Writes the name followed by a zero when shorter than 64 bytes; longer
    // names are cut at 64 bytes without a terminator. Bytes after the
    // terminator keep what they held.
    void setName(const std::string& name);
    LocalDateTime dateTime() const;
    void setDateTime(const LocalDateTime& when);
    std::uint16_t modelCode() const;
    void setModelCode(std::uint16_t code);
    // "2017/3/3 9:5:7": each number without leading zeros.
    std::string dateText() const;
};

} // namespace veltrane
