// A stand-in Programmer library: each export answers with a value made from its arguments,
// so the loader test can tell that every call arrives with its arguments in order.
#include "octo816.h"

#include <cstring>

namespace {
const OctoSegmentEntry kTable[] = {{OCTO_SEGMENT_FLASH, 0xF000, 0x1000}, {0, 0, 0}};
}

extern "C" {

int32_t OCTO_API InitProgress(OctoHandle a, OctoHandle b) {
    return a == b ? 1 : 2;
}
int32_t OCTO_API InitStatusLamp(const OctoStatusLampTable* t) {
    return t ? 3 : 4;
}
int32_t OCTO_API InitCom(const char* port, uint32_t baud) {
    return static_cast<int32_t>(std::strlen(port) * 1000000 + baud);
}
int32_t OCTO_API ReleaseCom(void) {
    return 5;
}
const char* OCTO_API GetErrorString(int32_t code) {
    return code == 7 ? "seven" : "other";
}
int32_t OCTO_API GetDevice(const char* name, const OctoSegmentEntry** table) {
    *table = kTable;
    return std::strcmp(name, "ZEL816 A110") == 0 ? 0 : 1;
}
int32_t OCTO_API OctoLoadParameters(uint32_t o, uint32_t v, uint32_t s) {
    return static_cast<int32_t>(o * 10000 + v * 100 + s);
}
int32_t OCTO_API OctoMainProcess(uint32_t t) {
    return static_cast<int32_t>(t + 1);
}
int32_t OCTO_API OctoGetResult(uint8_t* block) {
    for (int i = 0; i < OCTO_RESULT_BLOCK_BYTES; ++i) {
        block[i] = static_cast<uint8_t>(i);
    }
    return 0;
}
int32_t OCTO_API OctoSelftest(uint32_t t) {
    return static_cast<int32_t>(t + 2);
}
int32_t OCTO_API OctoEraseImage(void) {
    return 11;
}
int32_t OCTO_API OctoLoadImage(const char* path, const char* type) {
    return static_cast<int32_t>(std::strlen(path) * 100 + std::strlen(type));
}
int32_t OCTO_API OctoAppendImage(void) {
    return 12;
}
int32_t OCTO_API OctoSelectImage(uint32_t i) {
    return static_cast<int32_t>(i + 3);
}
int32_t OCTO_API OctoEraseFirmware(uint32_t s, uint32_t l) {
    return static_cast<int32_t>(s - l);
}
int32_t OCTO_API OctoLoadFirmware(const char* p) {
    return static_cast<int32_t>(std::strlen(p));
}
int32_t OCTO_API OctoSelectBaudrate(uint32_t i) {
    return static_cast<int32_t>(i * 2);
}
int32_t OCTO_API OctoSetVccTarget(uint32_t c) {
    return static_cast<int32_t>(c + 4);
}
int32_t OCTO_API OctoReadTargetFile(uint32_t t, uint32_t s, uint32_t l, const char* p, uint32_t f) {
    return static_cast<int32_t>(t * 1000 + (s - l) + std::strlen(p) * 10 + f);
}
int32_t OCTO_API OctoSetSignals(uint32_t w, uint32_t c) {
    return static_cast<int32_t>(w - c);
}
int32_t OCTO_API OctoAccessTargetSFR(uint32_t t, uint32_t o, uint32_t a, uint16_t* v) {
    *v = static_cast<uint16_t>(*v + a);
    return static_cast<int32_t>(t * 10 + o);
}
int32_t OCTO_API OctoSetTargetData(uint32_t t, uint32_t a, const uint8_t* d, uint32_t l) {
    return static_cast<int32_t>(t * 100000 + a + d[l - 1] * 10 + l);
}
int32_t OCTO_API OctoClearTargetData(void) {
    return 15;
}
int32_t OCTO_API OctoCheckFirmware(const char* p) {
    return static_cast<int32_t>(std::strlen(p) + 20);
}
}
