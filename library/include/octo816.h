/* The Programmer library OCTO816.DLL: its 22 exports, as the control program calls them,
 * the two that set each target's own record (serial numbers, keys) for the next run, and
 * the one that reports the unit's own serial number and run count.
 *
 * Plain C, __stdcall on 32-bit Windows, fixed-width types only. Shared by the library
 * itself, by the program's run-time loader and by the native build of the library that the
 * integration tests link directly. Nothing here allocates for the caller or throws: every
 * function returns a result code (0 = success, see docs/library.md), except GetErrorString,
 * which returns a text the library owns for the life of the process.
 */
#ifndef OCTO816_H
#define OCTO816_H

#include <stdint.h>

/* OctoSegmentEntry, the rows of GetDevice's table, shared with the unit simulator. */
#include <devices/segments.h>

#if defined(_WIN32)
#define OCTO_API __stdcall
#else
#define OCTO_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Opaque window and bitmap handles (HWND, HBITMAP on Windows). */
typedef void* OctoHandle;

/* The status lamp table: entry 0 the lamp control, entries 1 to 4 the pictures red,
   green with a tick, white with a blue "i", grey. The caller keeps it alive. */
enum { OCTO_STATUS_LAMP_ENTRIES = 5 };
typedef struct OctoStatusLampTable {
    OctoHandle entry[OCTO_STATUS_LAMP_ENTRIES];
} OctoStatusLampTable;

/* Size of the block OctoGetResult fills. */
enum { OCTO_RESULT_BLOCK_BYTES = 256 };
/* Where OctoGetResult puts the image of the selected slot as this library loaded it and
   the unit confirmed it at the end of the load: its byte count and its CRC-32, each high
   byte first; all 0 while it is not known (after an erase, a failed load). */
enum { OCTO_RESULT_IMAGE_BYTES = 32, OCTO_RESULT_IMAGE_CRC32 = 36 };

/* Read-out file formats of OctoReadTargetFile. */
enum { OCTO_FORMAT_QX_TEXT = 1, OCTO_FORMAT_INTEL_HEX = 2 };

/* Longest record OctoSetTargetData takes. */
enum { OCTO_TARGET_DATA_BYTES = 32 };

/* The least buffer OctoGetUnitInfo takes for the serial number (32 characters and the
   zero), and the run count it reports when the unit does not say. */
enum { OCTO_UNIT_SERIAL_BYTES = 33 };
#define OCTO_RUN_COUNT_UNKNOWN 0xFFFFFFFFu

int32_t OCTO_API InitProgress(OctoHandle statusLine, OctoHandle progressBar);
int32_t OCTO_API InitStatusLamp(const OctoStatusLampTable* table);
int32_t OCTO_API InitCom(const char* portPath, uint32_t baudRate);
int32_t OCTO_API ReleaseCom(void);
const char* OCTO_API GetErrorString(int32_t code);
int32_t OCTO_API GetDevice(const char* typeName, const OctoSegmentEntry** table);
int32_t OCTO_API OctoLoadParameters(uint32_t options, uint32_t targetVcc, uint32_t settleMs);
int32_t OCTO_API OctoMainProcess(uint32_t timeoutTenths);
int32_t OCTO_API OctoGetResult(uint8_t* block);
int32_t OCTO_API OctoSelftest(uint32_t timeoutTenths);
int32_t OCTO_API OctoEraseImage(void);
int32_t OCTO_API OctoLoadImage(const char* path, const char* typeName);
int32_t OCTO_API OctoAppendImage(void);
int32_t OCTO_API OctoSelectImage(uint32_t image);
int32_t OCTO_API OctoEraseFirmware(uint32_t start, uint32_t length);
int32_t OCTO_API OctoLoadFirmware(const char* pathOrLoader);
int32_t OCTO_API OctoSelectBaudrate(uint32_t baudIndex);
int32_t OCTO_API OctoSetVccTarget(uint32_t supplyCode);
int32_t OCTO_API OctoReadTargetFile(uint32_t target, uint32_t start, uint32_t length,
                                    const char* path, uint32_t format);
int32_t OCTO_API OctoSetSignals(uint32_t signalWord, uint32_t supplyCode);
int32_t OCTO_API OctoAccessTargetSFR(uint32_t target, uint32_t operation, uint32_t address,
                                     uint16_t* value);
/* Reads a firmware file whole and checks it, before the caller erases the unit's firmware;
   the next OctoLoadFirmware of the same path sends what was read here, even when the file
   has changed since. 0 = a firmware file; else the code OctoLoadFirmware would give it. */
int32_t OCTO_API OctoCheckFirmware(const char* path);
int32_t OCTO_API OctoSetTargetData(uint32_t target, uint32_t address, const uint8_t* data,
                                   uint32_t length);
int32_t OCTO_API OctoClearTargetData(void);
int32_t OCTO_API OctoGetUnitInfo(char* serial, uint32_t serialSize, uint32_t* runCount);

/* The names of the 22 exports, in the order above; the loader resolves each of them. */
#define OCTO816_EXPORTS(X)                                                                   \
    X(InitProgress) X(InitStatusLamp) X(InitCom) X(ReleaseCom) X(GetErrorString) X(GetDevice) \
    X(OctoLoadParameters) X(OctoMainProcess) X(OctoGetResult) X(OctoSelftest)                \
    X(OctoEraseImage) X(OctoLoadImage) X(OctoAppendImage) X(OctoSelectImage)                 \
    X(OctoEraseFirmware) X(OctoLoadFirmware) X(OctoSelectBaudrate) X(OctoSetVccTarget)       \
    X(OctoReadTargetFile) X(OctoSetSignals) X(OctoAccessTargetSFR) X(OctoCheckFirmware)

/* The target-record exports: a caller that serializes looks them up on their own, so a
   library without them still serves everything else. */
#define OCTO816_TARGET_DATA_EXPORTS(X) X(OctoSetTargetData) X(OctoClearTargetData)

/* The unit's serial number and run count: looked up on its own as well, a library without
   it reporting them unknown. */
#define OCTO816_UNIT_INFO_EXPORTS(X) X(OctoGetUnitInfo)

#ifdef __cplusplus
}
#endif

#endif
