// Image loading on a real configuration file: the library calls each combination of file
// names and results makes, what a success records and in which order, the text for
// overlapping files, the lock and the file selection.
#include "ops/ImageLoader.h"
#include "resources/StringIds.h"
#include "support/DialogWithIni.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace octo {
namespace {

using testing::DialogWithIni;

constexpr char kIniBefore[] = "[Version]\r\nVersion=1.56\r\n";
constexpr char kStatusBefore[] = "status before";
constexpr char kOverlapText[] =
    "ERROR: File(s) contains already specified data (code overwritten)!";

class ImageLoaderTest : public DialogWithIni {
protected:
    ImageLoaderTest() {
        ini(kIniBefore);
        view.setListRows(IDC_DEVICE_TYPE, {"ZEL816 A110", "ZEL816 A449"});
        view.setListSelection(IDC_DEVICE_TYPE, 1);
        view.setText(IDC_STATUS_LINE, kStatusBefore);
        dialog.flags().reloadRequired = true;
        dialog.flags().estimateStale = false;
    }
    void fileNames(const std::string& first, const std::string& second) {
        view.setText(IDC_IMAGE_FILE, first);
        view.setText(IDC_IMAGE2_FILE, second);
    }
    // The library calls as letters: E erase, D device layout, a and b the loads of a.txt
    // and b.hex, + append.
    std::string callLetters() const {
        std::string letters;
        for (const std::string& call : library->callLog()) {
            letters += call == "OctoEraseImage"                    ? 'E'
                       : call == "GetDevice ZEL816 A449"           ? 'D'
                       : call == "OctoLoadImage a.txt ZEL816 A449" ? 'a'
                       : call == "OctoLoadImage b.hex ZEL816 A449" ? 'b'
                       : call == "OctoAppendImage"                 ? '+'
                                                                   : '?';
        }
        return letters;
    }
};

struct LoadCase {
    const char* name;
    const char* first;
    const char* second;
    int32_t erase;
    std::vector<int32_t> loads;
    const char* calls;
    bool recorded;
    bool overlapText;
};

void PrintTo(const LoadCase& c, std::ostream* out) {
    *out << c.name;
}

// clang-format off
const LoadCase kLoadCases[] = {
    {"NeitherFileErasesOnly",    "",      "",      0, {},       "ED",    true,  false},
    {"OnlyFirst",                "a.txt", "",      0, {0},      "EDa",   true,  false},
    {"OnlySecondWithoutAppend",  "",      "b.hex", 0, {0},      "EDb",   true,  false},
    {"BothAppendBetween",        "a.txt", "b.hex", 0, {0, 0},   "EDa+b", true,  false},
    {"OneCharacterCountsAsNone", "x",     "b.hex", 0, {0},      "EDb",   true,  false},
    {"Result17GoesOn",           "a.txt", "b.hex", 0, {17, 17}, "EDa+b", true,  false},
    {"FirstOverlapsStops",       "a.txt", "b.hex", 0, {53},     "EDa",   false, true},
    {"SecondOverlaps",           "a.txt", "b.hex", 0, {0, 53},  "EDa+b", false, true},
    // Other failures: the library has written its own text, the program adds none.
    {"FirstFailsStops",          "a.txt", "b.hex", 0, {4},      "EDa",   false, false},
    {"EraseFailsLoadsNothing",   "a.txt", "b.hex", 3, {},       "E",     false, false},
};
// clang-format on

class ImageLoadCases : public ImageLoaderTest, public ::testing::WithParamInterface<LoadCase> {};

TEST_P(ImageLoadCases, LoadsTheGivenFilesAndRecordsOnlySuccess) {
    const LoadCase& c = GetParam();
    fileNames(c.first, c.second);
    library->script("OctoEraseImage", {c.erase});
    for (int32_t result : c.loads) {
        library->script("OctoLoadImage", {result});
    }
    view.click(IDC_LOAD_IMAGES);

    EXPECT_EQ(callLetters(), c.calls);
    EXPECT_EQ(iniInt("System", "DevType") == 1, c.recorded);
    EXPECT_EQ(dialog.flags().estimateStale, c.recorded);
    EXPECT_EQ(view.text(IDC_STATUS_LINE), c.overlapText ? kOverlapText : kStatusBefore);
    if (c.recorded) {
        EXPECT_EQ(dialog.profile().readString("System", "ImageFile", "?", 260), c.first);
        EXPECT_EQ(dialog.profile().readString("System", "Image2File", "?", 260), c.second);
    }
    EXPECT_FALSE(dialog.flags().reloadRequired) << "cleared whatever the outcome";
    EXPECT_TRUE(view.isEnabled(IDC_LOAD_IMAGES)) << "the bracket is closed";
}

INSTANTIATE_TEST_SUITE_P(FileNames, ImageLoadCases, ::testing::ValuesIn(kLoadCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ImageLoaderTest, SuccessWritesItsKeysInOrderWithTheMeasuredDuration) {
    fileNames("a.txt", "b.hex");
    platform.now = 70000;
    library->whileWaiting = [&](const std::string& function) {
        if (function == "OctoLoadImage") {
            platform.now += 125;
        }
    };
    view.click(IDC_LOAD_IMAGES);
    // Both sections are new, so the file shows the order of the writes.
    EXPECT_TRUE(iniText().ends_with("[Timing]\r\nTimeLoadImage=250\r\n[System]\r\nDevType=1\r\n"
                                    "DevTypeName=ZEL816 A449\r\nImageFile=a.txt\r\n"
                                    "Image2File=b.hex\r\n"))
        << iniText();
}

TEST_F(ImageLoaderTest, LockedLoadAndBrowseDoNothing) {
    dialog.settings().showSettings = 0;
    view.fileChoice = {1, "Z:\\tmp\\c.txt"};
    for (int id : {IDC_LOAD_IMAGES, IDC_BROWSE_IMAGE, IDC_BROWSE_IMAGE2}) {
        view.click(id);
        EXPECT_TRUE(library->callLog().empty() && view.fileDialogs().empty()) << id;
        EXPECT_EQ(view.text(IDC_STATUS_LINE), kStatusBefore) << id;
        EXPECT_TRUE(dialog.flags().reloadRequired) << id;
        EXPECT_EQ(iniText(), kIniBefore) << id;
    }
}

TEST_F(ImageLoaderTest, FileSelectionStoresTheChoiceOfItsKind) {
    const struct {
        int button; // 0: called as the firmware upgrade calls it
        FileChoice choice;
        const char* title;
        std::string image, image2, firmware;
    } cases[] = {
        {IDC_BROWSE_IMAGE, {}, "Load programmer unit", "old1", "old2", ""}, // cancelled
        {IDC_BROWSE_IMAGE, {3, "Z:\\c.zhx"}, "Load programmer unit", "Z:\\c.zhx", "old2", ""},
        {IDC_BROWSE_IMAGE2, {1, ""}, "Append programmer unit", "old1", " ", ""},
        {0, {1, "Z:\\OCTO.TXT"}, "Upgrade programmer unit", "old1", "old2", "Z:\\OCTO.TXT"},
    };
    for (const auto& c : cases) {
        fileNames("old1", "old2");
        dialog.flags().reloadRequired = false;
        view.fileChoice = c.choice;
        if (c.button != 0) {
            view.click(c.button);
        } else {
            EXPECT_EQ(dialog.imageLoader().selectObjectFile(ObjectFileKind::Upgrade,
                                                            IDS_FIRMWARE_FILE_FILTER),
                      1);
        }
        EXPECT_EQ(view.fileDialogs().back().title, c.title);
        EXPECT_EQ(view.text(IDC_IMAGE_FILE), c.image) << c.title;
        EXPECT_EQ(view.text(IDC_IMAGE2_FILE), c.image2) << c.title;
        EXPECT_EQ(dialog.state().firmwareFile, c.firmware);
        EXPECT_EQ(dialog.flags().reloadRequired, c.choice.filterIndex != 0) << c.title;
    }
    EXPECT_EQ(view.fileDialogs().front().filter,
              "QX-Text files (*.txt)|*.txt|Intel-Hex files (*.int;  *.hex;  *.zhx)|"
              "*.int;*.hex;*.zhx|All files (*.*)|*.*||");
    EXPECT_EQ(view.fileDialogs().back().filter,
              "ZEL-OCTO816 Firmware files (Octo*.txt)|OCTO*.txt||");
}

TEST_F(ImageLoaderTest, BrowsingKeepsWhatWasTypedInTheOtherField) {
    view.setEditText(IDC_IMAGE2_FILE, "typed2.hex");
    view.fileChoice = {1, "Z:\\c.txt"};
    view.click(IDC_BROWSE_IMAGE);
    EXPECT_EQ(view.text(IDC_IMAGE2_FILE), "typed2.hex");
}

TEST_F(ImageLoaderTest, TheImageButtonsAndTheSlotListSelectTheImageInTheUnit) {
    view.setVisible(IDC_IMAGE0, true); // hidden in the window
    view.setVisible(IDC_IMAGE1, true);
    view.setVisible(IDC_IMAGE_NUMBER, true);
    view.click(IDC_IMAGE1);
    view.click(IDC_IMAGE0);
    view.selectRow(IDC_IMAGE_NUMBER, 5);
    EXPECT_EQ(
        library->callLog(),
        (std::vector<std::string>{"OctoSelectImage 1", "OctoSelectImage 0", "OctoSelectImage 5"}));
}

TEST_F(ImageLoaderTest, OnlyTypingTheFirstFileNameAsksForAReload) {
    dialog.flags().reloadRequired = false;
    view.setEditText(IDC_IMAGE2_FILE, "typed2.hex");
    EXPECT_FALSE(dialog.flags().reloadRequired);
    view.setEditText(IDC_IMAGE_FILE, "typed1.txt");
    EXPECT_TRUE(dialog.flags().reloadRequired);
    EXPECT_EQ(dialog.settings().image2File, "typed2.hex") << "taken with the controls";
}

} // namespace
} // namespace octo
