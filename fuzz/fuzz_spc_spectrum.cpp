// The SPC reader: header fields, X arrays, subfiles and scaled integers.

#include "interchange/spc_file.h"
#include "interchange_checks.h"

using namespace veltrane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    static InterchangeSpectrum spectrum;
    InterchangeSpectrum before = spectrum;
    ReadOutcome outcome = ReadSpcSpectrum(bytes, 0, spectrum);
    if (outcome.needsLaser) {
        FUZZ_CHECK(!outcome.ok);
        outcome = ReadSpcSpectrum(bytes, 785.0, spectrum);
    }
    fuzz::CheckRead(outcome, before, spectrum);
    return 0;
}
