// The operator's guide against the program's own texts: every text of the status line and
// of a message box that the operator can meet is quoted in the guide exactly, so a text
// changed in the program fails here until the guide follows it.
#include "app/StringTable.h"
#include "ops/MainProcess.h"
#include "ops/Maintenance.h"
#include "resources/StringIds.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace octo {
namespace {

std::string guideText() {
    std::ifstream in(OCTO_OPERATOR_GUIDE, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// How the guide quotes a text: in double quotes, a box's line breaks as blanks, and the
// angle brackets as Markdown shows them.
std::string quoted(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\n')
            out += ' ';
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else
            out += c;
    }
    return out + "\"";
}

TEST(OperatorGuide, QuotesEveryTextOfTheStatusLineAndTheBoxesExactly) {
    const std::string guide = guideText();
    ASSERT_FALSE(guide.empty()) << OCTO_OPERATOR_GUIDE;

    // The string-table texts the program shows; the rows 200 to 216 and the 4xx rows it
    // never reaches with its own library are left out.
    std::vector<std::string_view> texts;
    for (int id : {IDS_VALUE_OUT_OF_RANGE,     IDS_CONNECTED,
                   IDS_FILE_NOT_OPENED,        IDS_IMAGE_CORRUPTED,
                   IDS_SELFTEST_IMAGE_JTAG,    IDS_SELFTEST_IMAGE_DATA,
                   IDS_SELFTEST_IMAGE_DEVICES, IDS_SELFTEST_TARGET_JTAG,
                   IDS_SELFTEST_VCCT,          IDS_SELFTEST_VCC,
                   IDS_SELFTEST_VPP,           IDS_SEE_RESULTS,
                   IDS_SELFTEST_PASSED,        IDS_PORT_OPENED,
                   IDS_VOLTAGE_TOO_LOW,        IDS_FIRMWARE_NOT_LOADED,
                   IDS_NOT_FIRMWARE_FILE,      IDS_NO_RESULT,
                   IDS_BAUDRATE_REFUSED,       IDS_SUPPLY_FAILED,
                   IDS_SUPPLY_MODIFIED})
        texts.push_back(stringTableText(id));
    for (const char* text :
         {kReloadWarningCaption, kReloadWarning, kSeriesFailedCaption, kSeriesFailed,
          kSeriesTerminated, kExecutingSelftest, kSelftestTerminated, kCommunicationError,
          kHardwareError, kInitializingFirmware, kFirmwareCompleted, kTraceLogCaption,
          kTraceLogNotWritten})
        texts.emplace_back(text);

    for (std::string_view text : texts) {
        ASSERT_FALSE(text.empty());
        EXPECT_NE(guide.find(quoted(text)), std::string::npos) << quoted(text);
    }
}

} // namespace
} // namespace octo
