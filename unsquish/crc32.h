// CRC-32 of ISO 3309 (reflected polynomial 0xEDB88320), as archives store it for
// exploded members. The caller presets the register to 0xFFFFFFFF and complements the
// final value.
#ifndef UNSQUISH_CRC32_H
#define UNSQUISH_CRC32_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

uint32_t UpdateCrc32(const uint8_t* data, uint32_t length, uint32_t crc);

#ifdef __cplusplus
}
#endif

#endif
