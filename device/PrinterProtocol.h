#pragma once

#include <cstddef>
#include <cstdint>

// The update exchange between the updater and an Orvane printer, as both ends of the cable speak
// it.

// Commands: three little-endian 32-bit words, the first naming the command.
constexpr std::size_t kCommandSize = 12;
constexpr std::uint32_t kStartCommand = 0x38;
constexpr std::uint32_t kImageInfoCommand = 0x138;
constexpr std::uint32_t kDataHeaderCommand = 0x238;
constexpr std::uint32_t kEndCommand = 0x1038;
// ImageInfoCommand's second word.
constexpr std::uint32_t kImageInfoWord = 0x00100000;

// Status records: the status word in bytes 0-3 (signed little-endian), the acknowledged stage in
// byte kStatusStageByte, the rest zero.
constexpr std::size_t kStatusRecordSize = 12;
constexpr std::size_t kStatusStageByte = 8;
constexpr std::int32_t kStatusStageDone = -255;
constexpr std::int32_t kStatusIdle = -253;
constexpr std::int32_t kStatusBusy = -252;

// The stages acknowledged with kStatusStageDone: after StartCommand, after ImageInfoCommand, and
// after the last data byte announced by DataHeaderCommand.
constexpr std::uint8_t kStageStart = 1;
constexpr std::uint8_t kStageImageInfo = 2;
constexpr std::uint8_t kStageData = 255;
