#include "interchange/shown_spectrum.h"

#include <algorithm>

#include "device/device_info.h"
#include "measure/measurement_session.h"
#include "measure/raw_spectrum_file.h"
#include "measure/spectral_axis.h"

namespace veltrane {

InterchangeSpectrum FitForStore(const InterchangeSpectrum& spectrum, bool& resampled) {
    resampled = spectrum.x.size() > kMaxShownPoints;
    return resampled ? ResampledEvenly(spectrum, kMaxShownPoints) : spectrum;
}

bool ApplyInterchangeSpectrum(const InterchangeSpectrum& spectrum, const std::string& name, MeasurementSession& session,
                              DeviceInfo& device) {
    bool resampled = false;
    const InterchangeSpectrum stored = FitForStore(spectrum, resampled);
    const std::size_t n = std::min({stored.x.size(), stored.y.size(), kMaxShownPoints});
    RawFileRecord& record = session.rawFile;
    record = RawFileRecord{};
    record.header.setName(name);
    record.header.setModelCode(kForeignModelCode);
    record.frameLength = kRawFrame2500;
    record.laserWavelength = kDefaultLaserNm;
    record.laserPixel = -1;
    record.windowStart = 0;
    record.windowEnd = static_cast<std::int32_t>(n);
    // The record keeps absolute wavenumbers as a raw file does; the store
    // takes the shifts as read, not through that float round trip.
    const double laserWavenumber = 1e7 / static_cast<double>(kDefaultLaserNm);
    SpectrumStore& s = session.spectrum;
    s.signal.fill(0.0f);
    s.dark.fill(0.0f);
    s.axis.fill(0.0f);
    // Another program's file says nothing of the converter it came from.
    s.clipped.fill(false);
    for (std::size_t i = 0; i < n; ++i) {
        record.intensities[i] = stored.y[i];
        record.wavenumbers[i] = static_cast<float>(laserWavenumber - stored.x[i]);
        s.signal[i] = stored.y[i];
        s.axis[i] = stored.x[i];
    }
    const std::size_t all = std::min(spectrum.x.size(), spectrum.y.size());
    s.foreignAxis.assign(spectrum.x.begin(), spectrum.x.begin() + static_cast<std::ptrdiff_t>(all));
    s.foreignSignal.assign(spectrum.y.begin(), spectrum.y.begin() + static_cast<std::ptrdiff_t>(all));
    device.pixelCount = static_cast<std::uint16_t>(n);
    s.haveFileData = true;
    s.haveMeasured = false;
    return resampled;
}

} // namespace veltrane
