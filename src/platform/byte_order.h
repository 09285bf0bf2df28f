#pragma once

#include <cstdint>
#include <cstring>

// Little-endian field access for the wire blocks and the file layouts. Every
// binary layout of the program is read and written through these, field by
// field, never by copying packed structs.
namespace veltrane {

inline std::uint16_t GetU16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t GetU32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::int16_t GetI16(const std::uint8_t* p) { return static_cast<std::int16_t>(GetU16(p)); }
inline std::int32_t GetI32(const std::uint8_t* p) { return static_cast<std::int32_t>(GetU32(p)); }
inline float GetF32(const std::uint8_t* p) {
    std::uint32_t bits = GetU32(p);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

inline void PutU16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void PutU32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}
inline void PutI16(std::uint8_t* p, std::int16_t v) { PutU16(p, static_cast<std::uint16_t>(v)); }
inline void PutI32(std::uint8_t* p, std::int32_t v) { PutU32(p, static_cast<std::uint32_t>(v)); }
inline void PutF32(std::uint8_t* p, float v) {
    std::uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    PutU32(p, bits);
}

} // namespace veltrane
