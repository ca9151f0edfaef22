// libFuzzer target: the Intel-Hex reader.
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    octo::fuzz::checkReader(data, size, octo::objfile::Format::IntelHex);
    return 0;
}
