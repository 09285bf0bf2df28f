#include "sim/sim_model.h"

#include <algorithm>
#include <cctype>

#include "platform/byte_order.h"

namespace veltrane {

std::vector<std::uint8_t> SimModel::calibrationFile() const {
    // The instrument stores its polynomial as float32, so the program only ever
    // sees the narrowed values; c5 is unused by every model and stays zero.
    std::vector<std::uint8_t> bytes(24, 0);
    for (std::size_t k = 0; k < optics.size(); ++k)
        PutF32(bytes.data() + 4 * k, static_cast<float>(optics[k]));
    PutF32(bytes.data() + 20, 0.0f);
    return bytes;
}

SimModel SimModelLarge2500() {
    SimModel m;
    m.label = "large-2500 (532 nm)";
    m.deviceType = 179;
    m.frameLength = 2546;
    m.firstPixel = 23;
    m.lastPixel = 2522;
    m.laserNm = 532.0f;
    m.hwMajor = 3;
    m.hwMinor = 1;
    m.fwMajor = 2;
    m.fwMinor = 14;
    m.opticsSerial = "OPT532-2500-A0471812"; // exactly the 20 bytes the record holds
    m.deviceSerial = 21087342;
    // 534.84 nm .. 685.08 nm: Raman shift 99.8 .. 4200.1 cm-1. The negative
    // quadratic term makes the dispersion fall from 0.0654 to 0.0555 nm per
    // pixel across the sensor, as a grating imaged onto a flat sensor does.
    m.optics = {534.84, 0.06543, -2.4e-6, 1.1e-10, 0.0};
    m.darkOffset = 980.0;
    m.darkCurrentPerS = 42.0;
    m.readNoise = 4.5;
    m.ramanScale = 5200.0;
    return m;
}

SimModel SimModelLarge2048() {
    SimModel m;
    m.label = "large-2048 (785 nm)";
    m.deviceType = 180;
    m.frameLength = 2068;
    m.firstPixel = 10;
    m.lastPixel = 2057;
    m.laserNm = 785.0f;
    m.hwMajor = 3;
    m.hwMinor = 2;
    m.fwMajor = 2;
    m.fwMinor = 9;
    m.opticsSerial = "OPT785-2048-B0219935";
    m.deviceSerial = 22040518;
    // 791.20 nm .. 1048.35 nm: Raman shift 99.8 .. 3200.0 cm-1, 0.133 falling
    // to 0.119 nm per pixel.
    m.optics = {791.2, 0.13310, -4.0e-6, 2.0e-10, -1.5e-14};
    // A deep-depletion sensor for the near infrared: higher bias, less dark
    // current (it is cooled harder), and the weaker 1/lambda^4 scattering
    // only partly made up for by the stronger laser.
    m.darkOffset = 1210.0;
    m.darkCurrentPerS = 25.0;
    m.readNoise = 5.0;
    m.ramanScale = 3100.0;
    return m;
}

SimModel SimModelSmall256() {
    SimModel m;
    m.label = "small-256 (405 nm)";
    m.deviceType = 165;
    m.frameLength = 256;
    m.firstPixel = 0;
    m.lastPixel = 255;
    m.laserNm = 405.0f;
    m.hwMajor = 1;
    m.hwMinor = 4;
    m.fwMajor = 1;
    m.fwMinor = 27;
    m.opticsSerial = "OPT405-256-C00871";
    m.deviceSerial = 16003125;
    // The 256-pixel class carries a built-in quintic,
    //   323.124139860483 + 2.3858233731047 i - 0.867423647505312e-3 i^2
    //   - 5.50503390300192e-6 i^3 + 4.51235935677212e-9 i^4 + 7.35313283236453e-12 i^5.
    // Dropping the i^5 term would be 7.9 nm off at the last pixel, so these
    // are the least-squares quartic through that quintic over pixels 0..255
    // instead: never more than 0.031 nm (about 0.013 pixel) away from it.
    // 323.15 nm .. 810.83 nm, i.e. -6254 .. 12358 cm-1 around the 405 nm laser.
    m.optics = {323.154383952531, 2.38216509099597, -0.000766213197003278, -6.56653215868206e-06, 9.19998153740451e-09};
    m.darkOffset = 620.0;
    m.darkCurrentPerS = 60.0;
    m.readNoise = 6.0;
    m.ramanScale = 3000.0;
    return m;
}

SimModel SimModelUnknown() {
    // A newer instrument the program has never heard of: it answers like the
    // 2500-pixel one, but its DeviceType is not in the program's table.
    SimModel m = SimModelLarge2500();
    m.label = "unknown type 77";
    m.deviceType = 77;
    m.hwMajor = 4;
    m.hwMinor = 0;
    m.fwMajor = 3;
    m.fwMinor = 2;
    m.opticsSerial = "OPT532-X077-D000391";
    m.deviceSerial = 30000417;
    return m;
}

std::optional<SimModel> SimModelByName(const std::string& name) {
    std::string key = name;
    std::transform(key.begin(), key.end(), key.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (key == "2500") return SimModelLarge2500();
    if (key == "2048") return SimModelLarge2048();
    if (key == "256") return SimModelSmall256();
    if (key == "unknown") return SimModelUnknown();
    return std::nullopt;
}

} // namespace veltrane
