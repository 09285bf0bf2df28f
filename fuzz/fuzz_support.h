#pragma once

// Shared pieces of the fuzz targets: a check that stops the run with a
// message (libFuzzer keeps the input that broke it), a reader that hands out
// the input piece by piece, and a private scratch folder for readers that
// only take a path.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#define FUZZ_CHECK(condition)                                                                                          \
    do {                                                                                                               \
        if (!(condition)) {                                                                                            \
            std::fprintf(stderr, "FUZZ_CHECK failed at %s:%d: %s\n", __FILE__, __LINE__, #condition);                  \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (0)

namespace veltrane::fuzz {

// Hands out the input from the front; past its end every value is zero, so
// a short input still drives a whole run.
class InputReader {
public:
    InputReader(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    std::uint8_t byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    std::uint16_t u16() {
        std::uint16_t lo = byte();
        return static_cast<std::uint16_t>(lo | (byte() << 8));
    }
    std::uint32_t u32() {
        std::uint32_t lo = u16();
        return lo | (static_cast<std::uint32_t>(u16()) << 16);
    }
    bool flag() { return (byte() & 1) != 0; }
    // Copies up to n bytes into out and zero-fills the rest.
    void fill(std::uint8_t* out, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) out[i] = byte();
    }
    // The next n bytes (fewer at the end).
    std::string_view take(std::size_t n) {
        std::size_t k = n < remaining() ? n : remaining();
        std::string_view piece(reinterpret_cast<const char*>(m_data + m_pos), k);
        m_pos += k;
        return piece;
    }
    std::string_view rest() { return take(remaining()); }
    std::size_t remaining() const { return m_size - m_pos; }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

// A folder of this process under the temporary directory, made on first use
// and emptied on request; ends in '/'.
const std::string& ScratchFolder();
void EmptyScratchFolder();

// Bitwise float equality: NaN payloads must survive a decode and re-encode.
bool SameBits(float a, float b);

} // namespace veltrane::fuzz
