#pragma once

#include <cstddef>
#include <cstdint>

// CRC-16/ARC: reflected polynomial 0x8005, initial value 0, no final XOR. Check value: the
// nine bytes "123456789" give 0xBB3D.

// Uses carry-less multiplication when the CPU has it, the tables otherwise; the results are
// the same either way.
std::uint16_t Crc16Arc(const std::uint8_t* data, std::size_t size);

// Table-driven, continuing from crc (the result over the bytes before data; 0 at the start).
std::uint16_t Crc16ArcTable(const std::uint8_t* data, std::size_t size, std::uint16_t crc = 0);

// Whether Crc16Arc takes the carry-less multiplication path on this machine.
bool Crc16ArcUsesClmul();
