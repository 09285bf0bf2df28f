#include "platform/usb_device_ids.h"

#include <algorithm>
#include <string>

namespace veltrane {

namespace {

constexpr int kMaxDeviceKeys = 32;

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

std::optional<std::uint16_t> ParseHex16(std::string_view s) {
    s = Trim(s);
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s.remove_prefix(2);
    if (s.empty() || s.size() > 4) return std::nullopt;
    std::uint16_t value = 0;
    for (char c : s) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return std::nullopt;
        value = static_cast<std::uint16_t>(value * 16 + digit);
    }
    return value;
}

} // namespace

std::optional<UsbDeviceId> ParseUsbDeviceId(std::string_view text) {
    std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    auto vendor = ParseHex16(text.substr(0, colon));
    auto product = ParseHex16(text.substr(colon + 1));
    if (!vendor || !product) return std::nullopt;
    return UsbDeviceId{*vendor, *product};
}

std::vector<UsbDeviceId> ReadUsbDeviceIds(const IniFile& settings) {
    std::vector<UsbDeviceId> ids(std::begin(kDefaultUsbDeviceIds), std::end(kDefaultUsbDeviceIds));
    for (int i = 1; i <= kMaxDeviceKeys; ++i) {
        std::string value = settings.readString("USB Devices", "Device" + std::to_string(i), "");
        auto id = ParseUsbDeviceId(value);
        if (id && std::find(ids.begin(), ids.end(), *id) == ids.end()) ids.push_back(*id);
    }
    return ids;
}

} // namespace veltrane
