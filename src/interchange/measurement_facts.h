#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "interchange/spectrum.h"
#include "measure/sample_info.h"
#include "measure/spectrum_header.h"

namespace veltrane {

struct MeasurementSession;
struct DeviceInfo;

// JCAMP-DX's LONGDATE form, "2026/12/09 23:15:48 +0100", which the other
// formats write too; without a known offset from UTC the zone is left out.
std::string LongDateText(const LocalDateTime& when, std::optional<int> utcOffsetMinutes);
// A moment in seconds since 1970 as this machine's local time and zone.
std::string LongDateText(std::int64_t unixSeconds);

// The sample information as an exported spectrum carries it: the sample
// name, when given, as the title; operator and notes.
void AddSampleInfo(InterchangeSpectrum& spectrum, const SampleInfo& sample);
// The sample information of a spectrum read from another program's file:
// its title stands for the sample name.
SampleInfo SampleInfoOf(const InterchangeSpectrum& spectrum);

// What another program's file says of how its spectrum was measured.
CaptureSettings CaptureSettingsOf(const InterchangeSpectrum& spectrum);

// Everything known of the shown spectrum that an export can carry besides
// its points: the sample information, and of a capture the instrument's
// model and serial, laser, integration time, averages and when it ended; of
// an opened raw file its laser, model and date, and the serial and exposure
// its sidecar kept. A spectrum from another program's file carries its
// sample information only.
void DescribeShownSpectrum(InterchangeSpectrum& spectrum, const MeasurementSession& session, const DeviceInfo& device);

} // namespace veltrane
