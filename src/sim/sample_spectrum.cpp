#include "sim/sample_spectrum.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <span>

#include "platform/byte_order.h"

namespace veltrane {

namespace {

struct Band {
    double position; // cm-1
    double height;   // relative to the sample's strongest band
    double fwhm;     // cm-1, as a portable instrument of ~8 cm-1 resolution sees it
};

struct Background {
    double amount; // fluorescence at its maximum, relative to the strongest band, for 532 nm
    double centre; // Raman shift of its maximum, cm-1
    double width;  // Gaussian standard deviation, cm-1
};

// Band positions are the usual reference values (polystyrene and cyclohexane
// as in the shift standards, paracetamol form I, liquid ethanol); heights and
// widths are what a spectrum taken with a visible laser typically shows.
constexpr Band kPolystyrene[] = {
    {620.9, 0.22, 8.0},   {795.8, 0.10, 10.0},  {1001.4, 1.00, 7.0},  {1031.8, 0.28, 8.0},
    {1155.3, 0.13, 10.0}, {1450.5, 0.10, 18.0}, {1583.1, 0.10, 9.0},  {1602.3, 0.32, 9.0},
    {2852.4, 0.18, 20.0}, {2904.5, 0.38, 30.0}, {3054.3, 0.62, 18.0},
};
constexpr Band kCyclohexane[] = {
    {384.1, 0.05, 8.0},   {426.3, 0.12, 9.0},   {801.3, 1.00, 6.0},   {1028.3, 0.45, 7.0},
    {1157.6, 0.12, 9.0},  {1266.4, 0.25, 9.0},  {1444.4, 0.30, 12.0}, {2664.4, 0.04, 14.0},
    {2852.9, 0.65, 12.0}, {2923.8, 0.55, 14.0}, {2938.3, 0.70, 14.0},
};
constexpr Band kParacetamol[] = {
    {390.0, 0.20, 10.0},  {465.0, 0.20, 10.0},  {651.0, 0.25, 9.0},   {797.0, 0.35, 9.0},   {857.0, 1.00, 8.0},
    {1168.0, 0.40, 9.0},  {1236.0, 0.55, 10.0}, {1324.0, 0.50, 11.0}, {1561.0, 0.25, 12.0}, {1611.0, 0.75, 10.0},
    {1648.0, 0.45, 12.0}, {2931.0, 0.15, 16.0}, {3064.0, 0.35, 16.0}, {3326.0, 0.10, 26.0},
};
constexpr Band kEthanol[] = {
    {433.0, 0.15, 30.0},  {882.0, 1.00, 14.0},  {1052.0, 0.35, 16.0}, {1096.0, 0.30, 16.0}, {1275.0, 0.15, 20.0},
    {1454.0, 0.35, 20.0}, {2877.0, 0.65, 25.0}, {2930.0, 0.85, 25.0}, {2974.0, 0.80, 20.0},
};

std::span<const Band> bandsOf(SimSample sample) {
    switch (sample) {
    case SimSample::Polystyrene:
        return kPolystyrene;
    case SimSample::Cyclohexane:
        return kCyclohexane;
    case SimSample::Paracetamol:
        return kParacetamol;
    case SimSample::Ethanol:
        return kEthanol;
    case SimSample::Empty:
        break;
    }
    return {};
}

Background backgroundOf(SimSample sample) {
    switch (sample) {
    // Commercial polystyrene carries additives and the tablet binder of
    // paracetamol fluoresces; the clear solvents hardly do. An empty holder
    // still shows the faint glow of the window and the laser's own wings.
    case SimSample::Polystyrene:
        return {0.15, 2500.0, 2500.0};
    case SimSample::Cyclohexane:
        return {0.03, 3000.0, 3000.0};
    case SimSample::Paracetamol:
        return {0.35, 1800.0, 2200.0};
    case SimSample::Ethanol:
        return {0.02, 3000.0, 3000.0};
    case SimSample::Empty:
        break;
    }
    return {0.01, 1500.0, 3000.0};
}

// Pseudo-Voigt of unit height: mostly Lorentzian, as liquid and solid bands
// are, with some Gaussian from the instrument's slit image.
double bandShape(double offset, double fwhm) {
    constexpr double kLorentzFraction = 0.7;
    const double x = offset / (0.5 * fwhm);
    const double lorentz = 1.0 / (1.0 + x * x);
    const double gauss = std::exp(-0.6931471805599453 * x * x);
    return kLorentzFraction * lorentz + (1.0 - kLorentzFraction) * gauss;
}

// The bands widened by an instrument whose resolution is instrumentFwhm. The
// heights stay as in the table, so ramanScale keeps meaning the counts of the
// strongest band even on a coarse sensor where bands span only a pixel or two.
double bandSum(SimSample sample, double ramanShift, double instrumentFwhm) {
    double sum = 0.0;
    for (const Band& b : bandsOf(sample)) {
        const double fwhm = std::sqrt(b.fwhm * b.fwhm + instrumentFwhm * instrumentFwhm);
        sum += b.height * bandShape(ramanShift - b.position, fwhm);
    }
    return sum;
}

double wavelengthAt(const SimModel& model, int validIndex) {
    const double i = validIndex;
    const auto& c = model.optics;
    return c[0] + i * (c[1] + i * (c[2] + i * (c[3] + i * c[4])));
}

double shiftOf(double wavelengthNm, double laserNm) {
    return 1e7 / laserNm - 1e7 / wavelengthNm;
}

// Where the fixed dark pattern comes from: a property of the sensor, so it
// follows the instrument's serial and not the noise seed.
constexpr std::uint64_t kDarkPatternSalt = 0x9e3779b97f4a7c15ULL;

} // namespace

const char* SimSampleName(SimSample sample) {
    switch (sample) {
    case SimSample::Polystyrene:
        return "polystyrene";
    case SimSample::Cyclohexane:
        return "cyclohexane";
    case SimSample::Paracetamol:
        return "paracetamol";
    case SimSample::Ethanol:
        return "ethanol";
    case SimSample::Empty:
        return "empty";
    }
    return "empty";
}

std::optional<SimSample> SimSampleByName(const std::string& name) {
    std::string key = name;
    std::transform(key.begin(), key.end(), key.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (SimSample s : AllSimSamples())
        if (key == SimSampleName(s)) return s;
    if (key == "acetaminophen") return SimSample::Paracetamol;
    return std::nullopt;
}

std::uint64_t FreshSimSeed() {
    std::random_device entropy;
    const auto now = static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
    return now ^ (static_cast<std::uint64_t>(entropy()) << 32) ^ entropy();
}

const std::vector<SimSample>& AllSimSamples() {
    static const std::vector<SimSample> all = {SimSample::Polystyrene, SimSample::Cyclohexane, SimSample::Paracetamol,
                                               SimSample::Ethanol, SimSample::Empty};
    return all;
}

double SampleRamanIntensity(SimSample sample, double ramanShift) {
    return bandSum(sample, ramanShift, 0.0);
}

double SampleFluorescence(SimSample sample, double wavelengthNm, double laserNm) {
    if (wavelengthNm <= 0.0 || laserNm <= 0.0) return 0.0;
    const Background bg = backgroundOf(sample);
    const double shift = shiftOf(wavelengthNm, laserNm);
    const double d = (shift - bg.centre) / bg.width;
    // Emission lies on the red side of the laser: a soft edge over the first
    // couple of hundred cm-1 keeps the anti-Stokes side dark.
    const double onset = 1.0 / (1.0 + std::exp(-(shift - 150.0) / 60.0));
    // Shorter lasers excite more of the impurities that fluoresce.
    const double excitation = std::pow(532.0 / laserNm, 3.0);
    return bg.amount * excitation * onset * std::exp(-0.5 * d * d);
}

FrameSynthesizer::FrameSynthesizer(const SimModel& model, SimSample sample, std::uint64_t seed)
    : m_model(model), m_sample(sample), m_rng(seed) {
    prepare();
}

void FrameSynthesizer::setSample(SimSample sample) {
    m_sample = sample;
    prepare();
}

void FrameSynthesizer::setAxisError(double cm) {
    m_axisError = cm;
    prepare();
}

void FrameSynthesizer::prepare() {
    const int frameLength = m_model.frameLength;
    if (static_cast<int>(m_darkPattern.size()) != frameLength) {
        // Pixel-to-pixel offsets of a few counts plus a gentle bow across the
        // sensor from the readout amplifier warming one end.
        std::mt19937_64 patternRng(kDarkPatternSalt ^ m_model.deviceSerial);
        std::normal_distribution<double> spread(0.0, 3.5);
        m_darkPattern.resize(frameLength);
        for (int p = 0; p < frameLength; ++p) {
            const double x = frameLength > 1 ? static_cast<double>(p) / (frameLength - 1) : 0.0;
            m_darkPattern[p] = spread(patternRng) + 12.0 * (x - 0.5) * (x - 0.5) + 4.0 * x;
        }
    }

    const int first = std::min<int>(m_model.firstPixel, frameLength);
    const int last = std::min<int>(m_model.lastPixel, frameLength - 1);
    const int count = std::max(0, last - first + 1);
    const double laser = m_model.laserNm;
    std::vector<double> shifts(count);
    for (int i = 0; i < count; ++i)
        shifts[i] = shiftOf(wavelengthAt(m_model, i), laser);

    m_ramanShape.assign(count, 0.0);
    for (int i = 0; i < count; ++i) {
        // The slit image covers about two pixels, whatever they span in cm-1.
        const int lo = std::max(i - 1, 0);
        const int hi = std::min(i + 1, count - 1);
        const double pitch = hi > lo ? std::abs(shifts[hi] - shifts[lo]) / (hi - lo) : 0.0;
        const double raman = bandSum(m_sample, shifts[i] - m_axisError, 2.0 * pitch);
        const double fluorescence = SampleFluorescence(m_sample, wavelengthAt(m_model, i), laser);
        m_ramanShape[i] = m_model.ramanScale * (raman + fluorescence);
    }
}

std::vector<std::uint16_t> FrameSynthesizer::frame(std::uint32_t exposureMs, bool laserOn) {
    const int frameLength = m_model.frameLength;
    const int first = m_model.firstPixel;
    const int count = static_cast<int>(m_ramanShape.size());
    const double seconds = exposureMs / 1000.0;
    const double darkCounts = m_model.darkCurrentPerS * seconds;

    std::normal_distribution<double> unit(0.0, 1.0);
    std::vector<std::uint16_t> out(frameLength);
    for (int p = 0; p < frameLength; ++p) {
        double collected = darkCounts;
        const int i = p - first;
        if (laserOn && i >= 0 && i < count) collected += m_ramanShape[i] * seconds * (m_laserPower / 100.0);
        // Both draws happen for every pixel so a seed yields the same noise
        // sequence whatever the signal is.
        const double shot = unit(m_rng);
        const double read = unit(m_rng);
        double value =
            m_model.darkOffset + m_darkPattern[p] + collected + std::sqrt(collected) * shot + m_model.readNoise * read;
        // The converter saturates at full scale; it never wraps.
        value = std::clamp(value, 0.0, m_model.fullScale());
        out[p] = static_cast<std::uint16_t>(std::lround(value));
    }
    return out;
}

std::vector<std::uint8_t> MakeSampleLibraryRecord(const std::string& name, SimSample sample, std::uint16_t modelCode,
                                                  double shiftLow, double shiftHigh, int year, int month, int day,
                                                  int hour, int minute, int second) {
    constexpr std::size_t kRecordSize = 5120;
    constexpr std::size_t kNameSize = 64;
    constexpr int kPoints = 1250;
    constexpr std::size_t kIntensityOffset = 120;
    constexpr std::size_t kShiftOffset = kIntensityOffset + 2 * kPoints;
    // Library spectra are recorded with the green laser; the wavelength only
    // matters for the faint background left in them.
    constexpr double kLibraryLaserNm = 532.0;
    constexpr double kStrongestCounts = 30000.0;
    constexpr double kBaseline = 300.0;

    std::vector<std::uint8_t> rec(kRecordSize, 0);
    // A name that fills all 64 bytes has no terminator; the zeroed record
    // supplies the one a shorter name needs.
    const std::size_t nameBytes = std::min(name.size(), kNameSize);
    std::copy_n(name.begin(), nameBytes, rec.begin());
    PutI32(rec.data() + 64, static_cast<std::int32_t>(year));
    PutI16(rec.data() + 68, static_cast<std::int16_t>(month));
    PutI16(rec.data() + 70, static_cast<std::int16_t>(day));
    PutI32(rec.data() + 72, static_cast<std::int32_t>(hour));
    PutI16(rec.data() + 76, static_cast<std::int16_t>(minute));
    PutI16(rec.data() + 78, static_cast<std::int16_t>(second));
    PutU16(rec.data() + 112, modelCode);

    std::vector<double> shifts(kPoints);
    std::vector<double> raman(kPoints);
    double strongest = 0.0;
    for (int k = 0; k < kPoints; ++k) {
        shifts[k] = shiftLow + (shiftHigh - shiftLow) * k / (kPoints - 1);
        raman[k] = SampleRamanIntensity(sample, shifts[k]);
        strongest = std::max(strongest, raman[k]);
    }
    // Scale to the strongest band inside the stored range; an empty holder
    // has none and keeps its faint background unscaled.
    const double norm = strongest > 1e-6 ? strongest : 1.0;
    for (int k = 0; k < kPoints; ++k) {
        const double wavenumber = 1e7 / kLibraryLaserNm - shifts[k];
        const double fluorescence =
            wavenumber > 0.0 ? SampleFluorescence(sample, 1e7 / wavenumber, kLibraryLaserNm) : 0.0;
        // Reference spectra keep only a fifth of the background they were taken with.
        const double counts = kBaseline + kStrongestCounts * (raman[k] + 0.2 * fluorescence) / norm;
        PutU16(rec.data() + kIntensityOffset + 2 * k,
               static_cast<std::uint16_t>(std::lround(std::clamp(counts, 0.0, 65535.0))));
        const double tenths = std::clamp(std::round(shifts[k] * 10.0), 0.0, 65535.0);
        PutU16(rec.data() + kShiftOffset + 2 * k, static_cast<std::uint16_t>(tenths));
    }
    return rec;
}

} // namespace veltrane
