// The sidecar of a raw file: JSON from anywhere, read without a throw.

#include "fuzz_support.h"
#include "measure/sample_sidecar.h"

using namespace veltrane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    SampleInfo sample{"before", "", ""};
    if (!DecodeSampleSidecar(bytes, sample)) {
        FUZZ_CHECK(sample.sampleName == "before");
        return 0;
    }
    // What was read is UTF-8 JSON text, so writing it loses nothing.
    SampleInfo back;
    FUZZ_CHECK(DecodeSampleSidecar(EncodeSampleSidecar(sample), back));
    FUZZ_CHECK(back.sampleName == sample.sampleName && back.operatorName == sample.operatorName &&
               back.notes == sample.notes);
    return 0;
}
