#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "sim/sim_model.h"

namespace veltrane {

// Samples the virtual instrument can be pointed at. Each has its real Raman
// bands (positions in cm-1, relative heights and widths) and a fluorescence
// background of its own.
enum class SimSample : std::uint8_t {
    Polystyrene,
    Cyclohexane,
    Paracetamol,
    Ethanol,
    Empty, // nothing in the holder: only the laser's faint background
};

const char* SimSampleName(SimSample sample);
std::optional<SimSample> SimSampleByName(const std::string& name);
const std::vector<SimSample>& AllSimSamples();

// A noise seed that differs from run to run (the time of day and the
// system's entropy source), for a virtual instrument that should behave as a
// real one does: no two captures alike. Tests give fixed seeds instead.
std::uint64_t FreshSimSeed();

// Relative Raman intensity of a sample (0 .. about 1, strongest band near 1)
// at a Raman shift in cm-1, without background.
double SampleRamanIntensity(SimSample sample, double ramanShift);

// Fluorescence background of the sample, relative to its strongest band, at an
// absolute wavelength in nm for a given laser wavelength.
double SampleFluorescence(SimSample sample, double wavelengthNm, double laserNm);

// Produces sensor frames as the instrument's line sensor would deliver them:
// frameLength unsigned 16-bit counts. Pixels outside the valid range carry dark
// counts only (masked pixels); the valid ones carry dark level, dark current,
// and, when the laser is on, the sample's Raman spectrum plus fluorescence,
// with shot and read noise from a seeded generator, clipped to the
// converter's 0 .. full scale. The generator runs on from frame to frame, so
// every exposure brings fresh noise; one seed gives one sequence of frames.
class FrameSynthesizer {
public:
    FrameSynthesizer(const SimModel& model, SimSample sample, std::uint64_t seed);
    void setSample(SimSample sample); // recomputes the spectrum for the new sample
    SimSample sample() const { return m_sample; }
    // Bands land `cm` higher on the axis the calibration gives than the
    // sample has them, as on an instrument whose axis has drifted.
    void setAxisError(double cm);
    double axisError() const { return m_axisError; }
    // The laser's output in percent of its rating: the Raman light and the
    // fluorescence scale with it, the dark does not.
    void setLaserPower(double percent) { m_laserPower = percent; }
    double laserPower() const { return m_laserPower; }
    std::vector<std::uint16_t> frame(std::uint32_t exposureMs, bool laserOn);

private:
    SimModel m_model;
    SimSample m_sample;
    double m_axisError = 0.0;
    double m_laserPower = 100.0;
    std::mt19937_64 m_rng;
    std::vector<double> m_ramanShape;  // per valid pixel, Raman + fluorescence counts per second
    std::vector<double> m_darkPattern; // fixed-pattern dark per frame pixel
    void prepare();
};

// A 5120-byte device library record made from a sample, as the instrument's
// store holds it: the 120-byte header (name, date, model code), 1250 u16
// intensities at offset 120 and 1250 u16 Raman shifts in tenths of cm-1 at
// offset 2620, spanning the given shift range evenly.
std::vector<std::uint8_t> MakeSampleLibraryRecord(const std::string& name, SimSample sample, std::uint16_t modelCode,
                                                  double shiftLow, double shiftHigh, int year, int month, int day,
                                                  int hour, int minute, int second);

} // namespace veltrane
