#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "interchange/spectrum.h"

namespace veltrane {

// One line of the block of facts that instruments and databases write above
// their numbers: "key;value", "key,value", "key<TAB>value", "key: value",
// "##KEY=value" or "# key: value". The key and value come back trimmed, the
// value's quotes removed and its HTML entities decoded; false for a line
// that is no such pair (a blank or a bare comment).
bool HeaderField(std::string_view line, std::pair<std::string, std::string>& field);

// Takes from `spectrum.fields` what the program knows by name: the title
// (NAMES, Name, Sample name, Title), laser wavelength, integration time,
// date, instrument, serial, operator (or owner), notes and averages. Values that are not usable (a laser of 0 nm)
// are left in the fields only.
void TakeKnownFields(InterchangeSpectrum& spectrum);

// A leading number of a header value: "784,82" and "532nm" both read, a
// decimal comma when there is no point; false when the value does not begin
// with a number.
bool LeadingNumber(std::string_view value, double& number);

} // namespace veltrane
