#include "app/UnitInfo.h"

#include "octo816.h"
#include "trace/trace_log.h"

#include <array>

namespace octo {

void decodeUnitInfo(const uint8_t* block, UnitInfo& info) {
    const trace::UnitIdentity identity =
        trace::unitIdentity(std::span<const uint8_t>(block, OCTO_RESULT_BLOCK_BYTES));
    info.hardwareVersion = identity.hardwareVersion.value_or(0);
    info.firmwareVersion = identity.firmwareVersion.value_or(0);
    info.thirdVersion = identity.thirdVersion.value_or(0);
    if (identity.firmwareName) {
        info.description = *identity.firmwareName;
    }
}

bool readUnitInfo(ProgrammerLibrary& library, UnitInfo& info) {
    std::array<uint8_t, OCTO_RESULT_BLOCK_BYTES> block{};
    if (library.getResult(block.data()) != 0) {
        return false;
    }
    decodeUnitInfo(block.data(), info);
    return true;
}

} // namespace octo
