// Smooths float32 values read from standard input at the level given as the
// only argument and writes the result as float32 to standard output: the
// bridge through which bench/smoothing_reference.py sets Veltrane's filter
// beside a reference implementation on the same data.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "measure/smoothing.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: smooth_dump LEVEL < in.f32 > out.f32\n");
        return 64;
    }
    int level = std::atoi(argv[1]);
    std::vector<float> input;
    float value;
    while (std::fread(&value, sizeof value, 1, stdin) == 1) input.push_back(value);
    if (input.empty() || input.size() > 65535 || level < 0 || level > veltrane::kMaxSmoothLevel) return 65;
    std::vector<float> output(input.size());
    veltrane::SmoothSpectrum(veltrane::SmoothCoefficients(level), veltrane::kSmoothWindow, input.data(), output.data(),
                             static_cast<std::uint16_t>(input.size()));
    std::fwrite(output.data(), sizeof(float), output.size(), stdout);
    return 0;
}
