// The delimited-text reader: any text a user calls a .csv or .txt.

#include "interchange/delimited_text.h"
#include "interchange/interchange.h"
#include "interchange_checks.h"

using namespace veltrane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    static InterchangeSpectrum spectrum;
    InterchangeSpectrum before = spectrum;
    // Half the inputs with a laser line, so that wavelength tables are read
    // through to Raman shifts too; UTF-16 text goes the way the program
    // takes it.
    ReadOutcome outcome = ReadInterchangeSpectrum(text, InterchangeFormat::Csv, size % 2 ? 785.0 : 0.0, spectrum);
    fuzz::CheckRead(outcome, before, spectrum);
    if (outcome.ok) {
        // Written as CSV it reads back to the same floats.
        InterchangeSpectrum back;
        FUZZ_CHECK(ReadDelimitedSpectrum(WriteCsvSpectrum(spectrum), back).ok);
        FUZZ_CHECK(back.x == spectrum.x && back.y == spectrum.y);
    }
    return 0;
}
