// The sidecar of a raw file: JSON from anywhere, read without a throw.

#include "fuzz_support.h"
#include "measure/sample_sidecar.h"

using namespace veltrane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    RawFileSidecar sidecar;
    sidecar.sample.sampleName = "before";
    if (!DecodeSampleSidecar(bytes, sidecar)) {
        FUZZ_CHECK(sidecar.sample.sampleName == "before");
        return 0;
    }
    // What was read is UTF-8 JSON text and whole numbers, so writing it
    // loses nothing.
    RawFileSidecar back;
    FUZZ_CHECK(DecodeSampleSidecar(EncodeSampleSidecar(sidecar), back));
    const SampleInfo &a = sidecar.sample, &b = back.sample;
    FUZZ_CHECK(b.sampleName == a.sampleName && b.operatorName == a.operatorName && b.notes == a.notes);
    FUZZ_CHECK(back.capture.serial == sidecar.capture.serial &&
               back.capture.integrationMs == sidecar.capture.integrationMs &&
               back.capture.averages == sidecar.capture.averages);
    return 0;
}
