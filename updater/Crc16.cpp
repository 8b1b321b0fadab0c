#include "updater/Crc16.h"

#include <array>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define REFLASHER_CRC16_CLMUL 1
#endif

namespace {

// kTables[0] is the standard byte table; kTables[k][b] is the CRC of byte b followed by k zero
// bytes, which lets the main loop fold 16 bytes per step ("slicing") with results equal to the
// byte-at-a-time loop.
constexpr std::size_t kSlices = 16;
using Tables = std::array<std::array<std::uint16_t, 256>, kSlices>;

constexpr Tables MakeTables() {
    Tables tables{};
    for (std::uint32_t byte = 0; byte < 256; ++byte) {
        std::uint32_t crc = byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1u) ? (crc >> 1) ^ 0xA001u : crc >> 1;
        }
        tables[0][byte] = static_cast<std::uint16_t>(crc);
    }
    for (std::size_t k = 1; k < kSlices; ++k) {
        for (std::uint32_t byte = 0; byte < 256; ++byte) {
            const std::uint16_t previous = tables[k - 1][byte];
            tables[k][byte] =
                static_cast<std::uint16_t>((previous >> 8) ^ tables[0][previous & 0xFFu]);
        }
    }
    return tables;
}

constexpr Tables kTables = MakeTables();

#ifdef REFLASHER_CRC16_CLMUL

// Folding with carry-less multiplication. Without an initial value or final XOR the CRC is
// just the message polynomial times x^16 modulo P, so any prefix can be replaced by a 16-byte
// block congruent to it modulo P at the same position; the folded block and the remaining
// tail then go through the table loop.
//
// Bit order: a 16-byte block loaded little-endian has bit j as the coefficient of x^(127-j)
// (the first bit of the message is the highest power). Its low quadword L (bits 0..63) is
// L(x)·x^64, its high quadword H is H(x). Moving the block d bits forward multiplies by x^d:
// L(x)·x^(64+d) + H(x)·x^d. A carry-less product of two 64-bit values in that bit order comes
// out one power short, so the constants are x^(64+d-1) mod P and x^(d-1) mod P.

// x^n mod P as a 64-bit value whose bit 63-e is the coefficient of x^e.
constexpr std::uint64_t PowerOfXModP(unsigned n) {
    std::uint32_t remainder = 1;
    for (unsigned i = 0; i < n; ++i) {
        remainder <<= 1;
        if (remainder & 0x10000u) {
            remainder ^= 0x18005u;
        }
    }
    std::uint64_t reflected = 0;
    for (int e = 0; e < 16; ++e) {
        if ((remainder >> e) & 1u) {
            reflected |= std::uint64_t{1} << (63 - e);
        }
    }
    return reflected;
}

constexpr std::uint64_t kFold512Low = PowerOfXModP(64 + 512 - 1);
constexpr std::uint64_t kFold512High = PowerOfXModP(512 - 1);
constexpr std::uint64_t kFold128Low = PowerOfXModP(64 + 128 - 1);
constexpr std::uint64_t kFold128High = PowerOfXModP(128 - 1);

__attribute__((target("pclmul,sse2"))) inline __m128i Fold(__m128i block, __m128i constants,
                                                           __m128i next) {
    return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(block, constants, 0x00),
                                       _mm_clmulepi64_si128(block, constants, 0x11)),
                         next);
}

__attribute__((target("pclmul,sse2"))) inline __m128i Load(const std::uint8_t* data) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(data));
}

// size >= 64.
__attribute__((target("pclmul,sse2"))) std::uint16_t Crc16ArcClmul(const std::uint8_t* data,
                                                                   std::size_t size) {
    const __m128i fold512 =
        _mm_set_epi64x(static_cast<long long>(kFold512High), static_cast<long long>(kFold512Low));
    const __m128i fold128 =
        _mm_set_epi64x(static_cast<long long>(kFold128High), static_cast<long long>(kFold128Low));
    __m128i x0 = Load(data);
    __m128i x1 = Load(data + 16);
    __m128i x2 = Load(data + 32);
    __m128i x3 = Load(data + 48);
    data += 64;
    size -= 64;
    while (size >= 64) {
        x0 = Fold(x0, fold512, Load(data));
        x1 = Fold(x1, fold512, Load(data + 16));
        x2 = Fold(x2, fold512, Load(data + 32));
        x3 = Fold(x3, fold512, Load(data + 48));
        data += 64;
        size -= 64;
    }
    x1 = Fold(x0, fold128, x1);
    x2 = Fold(x1, fold128, x2);
    x3 = Fold(x2, fold128, x3);
    while (size >= 16) {
        x3 = Fold(x3, fold128, Load(data));
        data += 16;
        size -= 16;
    }
    alignas(16) std::uint8_t folded[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(folded), x3);
    return Crc16ArcTable(data, size, Crc16ArcTable(folded, sizeof folded));
}

#endif

}  // namespace

std::uint16_t Crc16ArcTable(const std::uint8_t* data, std::size_t size, std::uint16_t crc) {
    const Tables& t = kTables;
    std::uint32_t value = crc;
    while (size >= kSlices) {
        const std::uint32_t first = value ^ (data[0] | (data[1] << 8));
        value = t[15][first & 0xFFu] ^ t[14][first >> 8] ^ t[13][data[2]] ^ t[12][data[3]] ^
                t[11][data[4]] ^ t[10][data[5]] ^ t[9][data[6]] ^ t[8][data[7]] ^ t[7][data[8]] ^
                t[6][data[9]] ^ t[5][data[10]] ^ t[4][data[11]] ^ t[3][data[12]] ^ t[2][data[13]] ^
                t[1][data[14]] ^ t[0][data[15]];
        data += kSlices;
        size -= kSlices;
    }
    while (size-- > 0) {
        value = (value >> 8) ^ t[0][(value ^ *data++) & 0xFFu];
    }
    return static_cast<std::uint16_t>(value);
}

bool Crc16ArcUsesClmul() {
#ifdef REFLASHER_CRC16_CLMUL
    static const bool supported = __builtin_cpu_supports("pclmul");
    return supported;
#else
    return false;
#endif
}

std::uint16_t Crc16Arc(const std::uint8_t* data, std::size_t size) {
#ifdef REFLASHER_CRC16_CLMUL
    if (size >= 64 && Crc16ArcUsesClmul()) {
        return Crc16ArcClmul(data, size);
    }
#endif
    return Crc16ArcTable(data, size);
}
