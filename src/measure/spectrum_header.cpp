#include "measure/spectrum_header.h"

#include <algorithm>
#include <ctime>

#include "platform/byte_order.h"

namespace veltrane {

namespace {
constexpr std::size_t kOffYear = 64;
constexpr std::size_t kOffMonth = 68;
constexpr std::size_t kOffDay = 70;
constexpr std::size_t kOffHour = 72;
constexpr std::size_t kOffMinute = 76;
constexpr std::size_t kOffSecond = 78;
constexpr std::size_t kOffModel = 112;
} // namespace

LocalDateTime CurrentLocalDateTime() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec};
}

std::string SpectrumHeader::name() const {
    auto end = std::find(bytes.begin(), bytes.begin() + kNameFieldSize, std::uint8_t{0});
    return std::string(bytes.begin(), end);
}

void SpectrumHeader::setName(const std::string& name) {
    std::size_t n = std::min(name.size(), kNameFieldSize);
    std::copy_n(name.begin(), n, bytes.begin());
    if (n < kNameFieldSize) bytes[n] = 0;
}

LocalDateTime SpectrumHeader::dateTime() const {
    const std::uint8_t* b = bytes.data();
    return {GetI32(b + kOffYear), GetI16(b + kOffMonth),  GetI16(b + kOffDay),
            GetI32(b + kOffHour), GetI16(b + kOffMinute), GetI16(b + kOffSecond)};
}

void SpectrumHeader::setDateTime(const LocalDateTime& when) {
    std::uint8_t* b = bytes.data();
    PutI32(b + kOffYear, when.year);
    PutI16(b + kOffMonth, static_cast<std::int16_t>(when.month));
    PutI16(b + kOffDay, static_cast<std::int16_t>(when.day));
    PutI32(b + kOffHour, when.hour);
    PutI16(b + kOffMinute, static_cast<std::int16_t>(when.minute));
    PutI16(b + kOffSecond, static_cast<std::int16_t>(when.second));
}

std::uint16_t SpectrumHeader::modelCode() const { return GetU16(bytes.data() + kOffModel); }
void SpectrumHeader::setModelCode(std::uint16_t code) { PutU16(bytes.data() + kOffModel, code); }

std::string SpectrumHeader::dateText() const {
    LocalDateTime t = dateTime();
    return std::to_string(t.year) + "/" + std::to_string(t.month) + "/" + std::to_string(t.day) + " " +
           std::to_string(t.hour) + ":" + std::to_string(t.minute) + ":" + std::to_string(t.second);
}

} // namespace veltrane
