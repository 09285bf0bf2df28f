// The JCAMP-DX reader with its compressed forms, Y-checks and labels.

#include "interchange/jcamp.h"
#include "interchange_checks.h"

using namespace veltrane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    static InterchangeSpectrum spectrum;
    InterchangeSpectrum before = spectrum;
    ReadOutcome outcome = ReadJcampSpectrum(text, 0, spectrum);
    if (outcome.needsLaser) {
        FUZZ_CHECK(!outcome.ok);
        outcome = ReadJcampSpectrum(text, 532.0, spectrum);
        FUZZ_CHECK(!outcome.needsLaser);
    }
    fuzz::CheckRead(outcome, before, spectrum);
    if (outcome.ok) {
        // Both written forms read back: AFFN to the same floats, DIFDUP to
        // as many points over the same range.
        InterchangeSpectrum back;
        FUZZ_CHECK(ReadJcampSpectrum(WriteJcampSpectrum(spectrum, JcampForm::Affn), 0, back).ok);
        FUZZ_CHECK(back.x == spectrum.x && back.y == spectrum.y);
        std::string difdup = WriteJcampSpectrum(spectrum, JcampForm::DifDup);
        if (!difdup.empty()) {
            FUZZ_CHECK(ReadJcampSpectrum(difdup, 0, back).ok);
            FUZZ_CHECK(back.x.size() == spectrum.x.size());
        }
    }
    return 0;
}
