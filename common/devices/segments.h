/* A device type's segment table: the rows GetDevice hands to the program, the memory map
 * the library checks object files against and the simulated targets are built from. Plain
 * C, because the library's public header includes it.
 */
#ifndef OCTO_SEGMENTS_H
#define OCTO_SEGMENTS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* One row: kind (low 16 bits count), start, length in bytes. A table holds at most
   OCTO_MAX_SEGMENTS rows and ends at the first kind 0. */
enum { OCTO_MAX_SEGMENTS = 18 };
typedef struct OctoSegmentEntry {
    uint32_t kind;
    uint32_t start;
    uint32_t length;
} OctoSegmentEntry;

enum {
    OCTO_SEGMENT_END = 0,
    OCTO_SEGMENT_RAM = 1,
    OCTO_SEGMENT_INFO = 2,
    OCTO_SEGMENT_FLASH = 3,
    OCTO_SEGMENT_PROTECTED_INFO = 5,
    OCTO_SEGMENT_DCO = 6,
    OCTO_SEGMENT_BSL = 7
};

#ifdef __cplusplus
}
#endif

#endif
