#pragma once

#include <string>
#include <string_view>

#include "interchange/delimited_text.h"
#include "interchange/spectrum.h"

namespace veltrane {

enum class InterchangeFormat : std::uint8_t { Unknown, Raw, Csv, Jcamp, Spc };

// The format a file name's extension stands for, in any letter case:
// .rsd, .csv/.txt/.tsv, .jdx/.dx/.jcamp, .spc.
InterchangeFormat FormatOfFileName(const std::string& fileName);

// Reads a spectrum of another program's format; Raw and Unknown are refused.
// Text in UTF-16 (with its byte-order mark) is read as well as UTF-8.
// `columns` applies to delimited text only.
ReadOutcome ReadInterchangeSpectrum(std::string_view bytes, InterchangeFormat format, double laserNm,
                                    InterchangeSpectrum& spectrum, const ColumnChoice& columns = {});

// Largest file the readers take: well above any single spectrum as text.
constexpr std::size_t kMaxInterchangeFileBytes = 64u << 20;
constexpr const char* kFileTooLargeMessage = "File too large (limit 64 MiB).";

} // namespace veltrane
