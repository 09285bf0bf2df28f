#include "interchange/spc_file.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>

#include "interchange/header_fields.h"
#include "interchange/text_values.h"
#include "platform/byte_order.h"

namespace veltrane {

namespace {

// Main header.
constexpr std::size_t kMainHeaderSize = 512;
constexpr std::size_t kOffFlags = 0;
constexpr std::size_t kOffVersion = 1;
constexpr std::size_t kOffExperiment = 2;
constexpr std::size_t kOffExponent = 3;
constexpr std::size_t kOffPointCount = 4;
constexpr std::size_t kOffFirstX = 8;
constexpr std::size_t kOffLastX = 16;
constexpr std::size_t kOffSubfileCount = 24;
constexpr std::size_t kOffXType = 28;
constexpr std::size_t kOffYType = 29;
constexpr std::size_t kOffComment = 88;
constexpr std::size_t kCommentSize = 130;
constexpr std::size_t kOffLogOffset = 248;
// Log block: its header, then the text of "KEY=VALUE" lines up to a zero.
constexpr std::size_t kLogHeaderSize = 64;
constexpr std::size_t kOffLogDiskSize = 0;
constexpr std::size_t kOffLogMemorySize = 4;
constexpr std::size_t kOffLogTextOffset = 8;
constexpr std::size_t kLogMemoryUnit = 4096;
// Subfile header.
constexpr std::size_t kSubHeaderSize = 32;
constexpr std::size_t kOffSubExponent = 1;
constexpr std::size_t kOffSubPointCount = 16;

constexpr std::uint8_t kNewLittleEndian = 0x4B;
constexpr std::uint8_t kNewBigEndian = 0x4C;
constexpr std::uint8_t kOldFormat = 0x4D;
constexpr std::uint8_t kFloatExponent = 0x80;

constexpr std::uint8_t kFlag16Bit = 0x01;   // TSPREC
constexpr std::uint8_t kFlagMulti = 0x04;   // TMULTI
constexpr std::uint8_t kFlagXyxys = 0x40;   // TXYXYS: each subfile its own X
constexpr std::uint8_t kFlagXValues = 0x80; // TXVALS

constexpr std::uint8_t kExperimentRaman = 11;
constexpr std::uint8_t kXWavenumber = 1;
constexpr std::uint8_t kXMicrometers = 2;
constexpr std::uint8_t kXNanometers = 3;
constexpr std::uint8_t kXRamanShift = 13;
constexpr std::uint8_t kYArbitrary = 0;

double GetF64(const std::uint8_t* p) {
    std::uint64_t bits = static_cast<std::uint64_t>(GetU32(p)) | (static_cast<std::uint64_t>(GetU32(p + 4)) << 32);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

void PutF64(std::uint8_t* p, double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    PutU32(p, static_cast<std::uint32_t>(bits));
    PutU32(p + 4, static_cast<std::uint32_t>(bits >> 32));
}

// The Y types of the format's table that say what the numbers are; the
// ones a Raman spectrum may carry (arbitrary, counts, intensity, relative
// intensity) come back empty or as "Counts".
std::string YUnitsName(std::uint8_t type) {
    switch (type) {
    case 0: case 12: case 13: return {};
    case 4: return "Counts";
    case 1: return "Interferogram";
    case 2: return "Absorbance";
    case 3: return "Kubelka-Munk";
    case 10: return "Log(1/R)";
    case 11: return "Percent";
    case 128: return "Transmission";
    case 129: return "Reflectance";
    default: return "Y type " + std::to_string(type);
    }
}

ReadOutcome Refused(std::string message) {
    ReadOutcome outcome;
    outcome.message = std::move(message);
    return outcome;
}

// The "KEY=VALUE" lines of the log block as header fields; a block that lies
// outside the file is passed over, as it holds no points.
void ReadLogFields(std::string_view bytes, InterchangeSpectrum& spectrum) {
    const auto* b = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const std::size_t at = GetU32(b + kOffLogOffset);
    if (at < kMainHeaderSize || at > bytes.size() || bytes.size() - at < kLogHeaderSize) return;
    const std::size_t textAt = GetU32(b + at + kOffLogTextOffset);
    if (textAt > bytes.size() - at) return;
    std::string_view text = bytes.substr(at + textAt);
    text = text.substr(0, text.find('\0'));
    TextLineCursor lines(text);
    std::string_view line;
    std::pair<std::string, std::string> field;
    while (lines.next(line) && spectrum.fields.size() < 10000)
        if (HeaderField(line, field) && !field.second.empty()) spectrum.fields.push_back(std::move(field));
}

// What the spectrum says of the measurement, one "KEY=VALUE" line each;
// empty when it says nothing.
std::string LogText(const InterchangeSpectrum& s) {
    std::string text;
    auto line = [&](const char* key, const std::string& value) {
        if (!value.empty()) text += std::string(key) + "=" + OneLineText(value) + "\r\n";
    };
    line("OPERATOR", s.operatorName);
    line("DATE", s.date);
    line("INSTRUMENT", s.instrument);
    line("SERIAL NUMBER", s.serial);
    if (s.laserNm > 0) line("LASER WAVELENGTH (NM)", ShortestText(static_cast<float>(s.laserNm)));
    if (s.integrationMs > 0) line("INTEGRATION TIME (MS)", ShortestText(static_cast<float>(s.integrationMs)));
    if (s.averages > 0) line("AVERAGES", std::to_string(s.averages));
    line("NOTES", s.notes);
    // The comment field holds 129 bytes of the title; the log all of it.
    if (!text.empty() && s.title.size() >= kCommentSize) line("TITLE", s.title);
    return text;
}

} // namespace

ReadOutcome ReadSpcSpectrum(std::string_view bytes, double laserNm, InterchangeSpectrum& spectrum) {
    if (bytes.size() < 2) return Refused("Not an SPC file.");
    const auto* b = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const std::uint8_t version = b[kOffVersion];
    if (version == kOldFormat) return Refused("Old-format SPC files are not read.");
    if (version == kNewBigEndian) return Refused("Big-endian SPC files are not read.");
    if (version != kNewLittleEndian) return Refused("Not an SPC file.");
    if (bytes.size() < kMainHeaderSize) return Refused("The SPC file is incomplete.");

    const std::uint8_t flags = b[kOffFlags];
    const std::uint32_t points = GetU32(b + kOffPointCount);
    const double firstX = GetF64(b + kOffFirstX);
    const double lastX = GetF64(b + kOffLastX);
    const std::uint32_t subfiles = GetU32(b + kOffSubfileCount);
    const std::uint8_t xType = b[kOffXType];

    double toNm = 0; // 0: X already in cm-1
    if (xType == kXNanometers)
        toNm = 1;
    else if (xType == kXMicrometers)
        toNm = 1000;
    else if (xType != kXRamanShift && xType != kXWavenumber)
        return Refused("SPC X units of type " + std::to_string(xType) + " are not read.");
    if (toNm > 0 && !(laserNm > 0)) {
        ReadOutcome outcome;
        outcome.needsLaser = true;
        outcome.message = "X is in wavelengths: a laser wavelength is needed.";
        return outcome;
    }

    const bool multi = (flags & kFlagMulti) != 0;
    const bool ownX = (flags & kFlagXyxys) != 0;
    const bool xArray = (flags & kFlagXValues) != 0 && !ownX;
    std::size_t offset = kMainHeaderSize;
    std::size_t count = points;
    std::vector<double> xs;
    auto remaining = [&] { return bytes.size() - offset; };
    if (!ownX) {
        if (count == 0) return Refused("The SPC file has no points.");
        if (count > kMaxInterchangePoints) return Refused("Too many points.");
    }
    if (xArray) {
        if (remaining() < 4 * count) return Refused("The SPC file is incomplete.");
        xs.resize(count);
        for (std::size_t i = 0; i < count; ++i)
            xs[i] = GetF32(b + offset + 4 * i);
        offset += 4 * count;
    }
    if (remaining() < kSubHeaderSize) return Refused("The SPC file is incomplete.");
    const std::uint8_t* sub = b + offset;
    offset += kSubHeaderSize;
    if (ownX) {
        count = GetU32(sub + kOffSubPointCount);
        if (count == 0) return Refused("The SPC file has no points.");
        if (count > kMaxInterchangePoints) return Refused("Too many points.");
        if (remaining() < 4 * count) return Refused("The SPC file is incomplete.");
        xs.resize(count);
        for (std::size_t i = 0; i < count; ++i)
            xs[i] = GetF32(b + offset + 4 * i);
        offset += 4 * count;
    }
    if (!xArray && !ownX) {
        xs.resize(count);
        for (std::size_t i = 0; i < count; ++i)
            xs[i] = EvenX(firstX, lastX, count, i);
    }
    // A single spectrum is scaled by the main header's exponent; in a
    // multi-spectrum file each subfile carries its own.
    const std::uint8_t exponent = multi ? sub[kOffSubExponent] : b[kOffExponent];
    const bool is16 = exponent != kFloatExponent && (flags & kFlag16Bit) != 0;
    const std::size_t width = is16 ? 2 : 4;
    if (remaining() < width * count) return Refused("The SPC file is incomplete.");
    std::vector<double> ys(count);
    const int power = static_cast<int>(static_cast<std::int8_t>(exponent)) - (is16 ? 16 : 32);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* p = b + offset + width * i;
        if (exponent == kFloatExponent)
            ys[i] = GetF32(p);
        else if (is16)
            ys[i] = std::ldexp(static_cast<double>(GetI16(p)), power);
        else
            ys[i] = std::ldexp(static_cast<double>(GetI32(p)), power);
    }

    for (std::size_t i = 0; i < count; ++i) {
        if (toNm > 0) xs[i] = RamanShiftOfWavelength(xs[i] * toNm, laserNm);
        if (!std::isfinite(xs[i]) || std::fabs(xs[i]) > kMaxMagnitude) return Refused("An X value out of range.");
        if (!std::isfinite(ys[i]) || std::fabs(ys[i]) > kMaxMagnitude) return Refused("A Y value out of range.");
    }
    std::vector<std::size_t> order(count);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t c) { return xs[a] < xs[c]; });

    ReadOutcome outcome;
    outcome.ok = true;
    if (multi && subfiles > 1)
        outcome.notice = "SPC file of " + std::to_string(subfiles) + " spectra: the first was read.";
    spectrum = InterchangeSpectrum{};
    spectrum.x.resize(count);
    spectrum.y.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        spectrum.x[i] = static_cast<float>(xs[order[i]]);
        spectrum.y[i] = static_cast<float>(ys[order[i]]);
    }
    const char* comment = bytes.data() + kOffComment;
    spectrum.title.assign(comment, std::find(comment, comment + kCommentSize, '\0'));
    spectrum.yUnits = YUnitsName(b[kOffYType]);
    ReadLogFields(bytes, spectrum);
    TakeKnownFields(spectrum);
    if (toNm > 0) spectrum.laserNm = laserNm;
    return outcome;
}

std::string WriteSpcSpectrum(const InterchangeSpectrum& spectrum) {
    const std::size_t n = std::min(spectrum.x.size(), spectrum.y.size());
    const bool even = EvenlySpaced(spectrum.x);
    std::string bytes(kMainHeaderSize + (even ? 0 : 4 * n) + kSubHeaderSize + 4 * n, '\0');
    auto* b = reinterpret_cast<std::uint8_t*>(bytes.data());
    b[kOffFlags] = even ? 0 : kFlagXValues;
    b[kOffVersion] = kNewLittleEndian;
    b[kOffExperiment] = kExperimentRaman;
    b[kOffExponent] = kFloatExponent;
    PutU32(b + kOffPointCount, static_cast<std::uint32_t>(n));
    PutF64(b + kOffFirstX, n > 0 ? spectrum.x.front() : 0.0);
    PutF64(b + kOffLastX, n > 0 ? spectrum.x[n - 1] : 0.0);
    PutU32(b + kOffSubfileCount, 1);
    b[kOffXType] = kXRamanShift;
    b[kOffYType] = kYArbitrary;
    std::copy_n(spectrum.title.data(), std::min(spectrum.title.size(), kCommentSize - 1), bytes.data() + kOffComment);
    std::size_t offset = kMainHeaderSize;
    if (!even) {
        for (std::size_t i = 0; i < n; ++i)
            PutF32(b + offset + 4 * i, spectrum.x[i]);
        offset += 4 * n;
    }
    b[offset + kOffSubExponent] = kFloatExponent;
    offset += kSubHeaderSize;
    for (std::size_t i = 0; i < n; ++i)
        PutF32(b + offset + 4 * i, spectrum.y[i]);
    offset += 4 * n;
    // The log block follows the data, as the format places it.
    const std::string log = LogText(spectrum);
    if (!log.empty()) {
        const std::size_t size = kLogHeaderSize + log.size() + 1;
        std::string block(size, '\0');
        auto* l = reinterpret_cast<std::uint8_t*>(block.data());
        PutU32(l + kOffLogDiskSize, static_cast<std::uint32_t>(size));
        PutU32(l + kOffLogMemorySize,
               static_cast<std::uint32_t>((size + kLogMemoryUnit - 1) / kLogMemoryUnit * kLogMemoryUnit));
        PutU32(l + kOffLogTextOffset, static_cast<std::uint32_t>(kLogHeaderSize));
        std::copy(log.begin(), log.end(), block.begin() + kLogHeaderSize);
        PutU32(b + kOffLogOffset, static_cast<std::uint32_t>(offset));
        bytes += block;
    }
    return bytes;
}

} // namespace veltrane
