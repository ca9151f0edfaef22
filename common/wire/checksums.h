// The checksums of the wire protocol.
#pragma once

#include <cstdint>
#include <span>

namespace octo::wire {

// CRC-8 with polynomial 0x07, initial value 0: guards the frame header, so that a frame
// whose payload was damaged still names the request it belonged to.
uint8_t crc8(std::span<const uint8_t> bytes);

// CRC-16/CCITT-FALSE: polynomial 0x1021, initial value 0xFFFF, no reflection, no final
// xor. The check value of "123456789" is 0x29B1.
uint16_t crc16(std::span<const uint8_t> bytes, uint16_t crc = 0xFFFF);

// The IEEE CRC-32 (reflected, polynomial 0xEDB88320, all ones in and out); pass the
// previous result to continue. Check value of "123456789": 0xCBF43926.
uint32_t crc32(std::span<const uint8_t> bytes, uint32_t crc = 0);

} // namespace octo::wire
