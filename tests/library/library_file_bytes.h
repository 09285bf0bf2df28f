#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace veltrane::test {

// Library files put together byte by byte at the layouts' offsets, as
// another program writing them would.
inline void PutLittle(std::string& bytes, std::size_t at, std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i)
        bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// Name from 0; 2017/3/3 9:05:07 as year i32 at 64, month and day i16 at 68
// and 70, hour i32 at 72, minute and second i16 at 76 and 78; model at 112.
inline std::string HeaderBytes(const std::string& name, std::uint16_t model) {
    std::string b(120, '\0');
    b.replace(0, name.size(), name);
    const std::uint32_t fields[][3] = {{64, 2017, 4}, {68, 3, 2}, {70, 3, 2},     {72, 9, 4},
                                       {76, 5, 2},    {78, 7, 2}, {112, model, 2}};
    for (const auto& f : fields)
        PutLittle(b, f[0], f[1], static_cast<int>(f[2]));
    return b;
}

// 20120 bytes, float32 intensities from 120 and X values from 10120: point i
// is (300 + 2i, i + offset), or (x[i], i + offset) and X 0 past x when given.
inline std::string PcLibraryBytes(const std::string& header, float offset = 0, std::vector<float> x = {}) {
    std::string b = header;
    b.resize(20120, '\0');
    for (std::size_t i = 0; i < 2500; ++i) {
        float values[2] = {static_cast<float>(i) + offset, x.empty() ? 300.0f + 2.0f * i : (i < x.size() ? x[i] : 0)};
        for (int block = 0; block < 2; ++block) {
            std::uint32_t raw;
            std::memcpy(&raw, &values[block], 4);
            PutLittle(b, 120 + 10000 * block + 4 * i, raw, 4);
        }
    }
    return b;
}

// 5120 bytes, u16 intensities from 120 and u16 X in tenths from 2620.
inline std::string DeviceRecordBytes(const std::string& header, const std::vector<std::uint16_t>& y,
                                     const std::vector<std::uint16_t>& xTenths) {
    std::string b = header;
    b.resize(5120, '\0');
    for (std::size_t i = 0; i < y.size(); ++i)
        PutLittle(b, 120 + 2 * i, y[i], 2);
    for (std::size_t i = 0; i < xTenths.size(); ++i)
        PutLittle(b, 2620 + 2 * i, xTenths[i], 2);
    return b;
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

} // namespace veltrane::test
