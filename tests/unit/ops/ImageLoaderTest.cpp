// Image loading on a real configuration file: which library calls each combination of
// file names and results makes, what a success records and in which order, the text for
// overlapping files, the lock, the file selection and the image-slot controls.
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
constexpr char kObjectFilter[] = "QX-Text files (*.txt)|*.txt|Intel-Hex files (*.int;  *.hex;  "
                                 "*.zhx)|*.int;*.hex;*.zhx|All files (*.*)|*.*||";
constexpr char kFirmwareFilter[] = "ZEL-OCTO816 Firmware files (Octo*.txt)|OCTO*.txt||";
constexpr char kType[] = "ZEL816 A449";

class ImageLoaderTest : public DialogWithIni {
protected:
    ImageLoaderTest() {
        ini(kIniBefore);
        view.clearList(IDC_DEVICE_TYPE);
        view.addListRow(IDC_DEVICE_TYPE, "ZEL816 A110");
        view.addListRow(IDC_DEVICE_TYPE, kType);
        view.setListSelection(IDC_DEVICE_TYPE, 1);
        view.setText(IDC_STATUS_LINE, kStatusBefore);
        dialog.flags().reloadRequired = true;
        dialog.flags().estimateStale = false;
    }

    void fileNames(const std::string& first, const std::string& second) {
        view.setText(IDC_IMAGE_FILE, first);
        view.setText(IDC_IMAGE2_FILE, second);
    }
    std::string status() const { return view.text(IDC_STATUS_LINE); }
    bool recorded() { return iniInt("System", "DevType") != -999; }
};

struct LoadCase {
    const char* name;
    const char* first;
    const char* second;
    std::vector<int32_t> loadResults;
    int32_t eraseResult;
    std::vector<std::string> calls;
    bool recorded;
    const char* status;
};

void PrintTo(const LoadCase& c, std::ostream* out) {
    *out << c.name;
}

const std::string kErase = "OctoEraseImage";
const std::string kDevice = std::string("GetDevice ") + kType;
const std::string kLoadA = std::string("OctoLoadImage a.txt ") + kType;
const std::string kLoadB = std::string("OctoLoadImage b.hex ") + kType;
const std::string kAppend = "OctoAppendImage";

const LoadCase kLoadCases[] = {
    {"NeitherFileErasesOnly", "", "", {}, 0, {kErase, kDevice}, true, kStatusBefore},
    {"OnlyFirst", "a.txt", "", {0}, 0, {kErase, kDevice, kLoadA}, true, kStatusBefore},
    {"OnlySecondWithoutAppend",
     "",
     "b.hex",
     {0},
     0,
     {kErase, kDevice, kLoadB},
     true,
     kStatusBefore},
    {"BothAppendBetween",
     "a.txt",
     "b.hex",
     {0, 0},
     0,
     {kErase, kDevice, kLoadA, kAppend, kLoadB},
     true,
     kStatusBefore},
    {"OneCharacterCountsAsNone",
     "x",
     "b.hex",
     {0},
     0,
     {kErase, kDevice, kLoadB},
     true,
     kStatusBefore},
    {"Result17GoesOn",
     "a.txt",
     "b.hex",
     {17, 17},
     0,
     {kErase, kDevice, kLoadA, kAppend, kLoadB},
     true,
     kStatusBefore},
    {"FirstOverlapsStops",
     "a.txt",
     "b.hex",
     {53},
     0,
     {kErase, kDevice, kLoadA},
     false,
     kOverlapText},
    {"SecondOverlaps",
     "a.txt",
     "b.hex",
     {0, 53},
     0,
     {kErase, kDevice, kLoadA, kAppend, kLoadB},
     false,
     kOverlapText},
    // Other failures: the library has written its own text, the program adds none.
    {"FirstFailsStops", "a.txt", "b.hex", {4}, 0, {kErase, kDevice, kLoadA}, false, kStatusBefore},
    {"SecondFails", "", "b.hex", {12}, 0, {kErase, kDevice, kLoadB}, false, kStatusBefore},
    {"EraseFailsLoadsNothing", "a.txt", "b.hex", {}, 3, {kErase}, false, kStatusBefore},
};

class ImageLoadCases : public ImageLoaderTest, public ::testing::WithParamInterface<LoadCase> {};

TEST_P(ImageLoadCases, LoadsGivenFilesAndRecordsOnlySuccess) {
    const LoadCase& c = GetParam();
    fileNames(c.first, c.second);
    library->script("OctoEraseImage", {c.eraseResult});
    for (int32_t result : c.loadResults) {
        library->script("OctoLoadImage", {result});
    }
    view.click(IDC_LOAD_IMAGES);

    EXPECT_EQ(library->callLog(), c.calls);
    EXPECT_EQ(recorded(), c.recorded);
    EXPECT_EQ(dialog.flags().estimateStale, c.recorded);
    EXPECT_EQ(status(), c.status);
    if (!c.loadResults.empty()) {
        EXPECT_EQ(dialog.state().lastResult, c.loadResults.back());
    }
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
    platform.tickStep = 250;
    view.click(IDC_LOAD_IMAGES);
    // Both sections are new, so the file shows the order of the writes.
    EXPECT_TRUE(
        iniText().ends_with("[Timing]\r\nTimeLoadImage=250\r\n[System]\r\nDevType=1\r\n"
                            "DevTypeName=ZEL816 A449\r\nImageFile=a.txt\r\nImage2File=b.hex\r\n"))
        << iniText();
    EXPECT_EQ(dialog.settings().timeLoadImage, 250u);
}

TEST_F(ImageLoaderTest, LockedLoadAndBrowseDoNothing) {
    dialog.settings().showSettings = 0;
    fileNames("a.txt", "b.hex");
    view.fileChoice = {1, "Z:\\tmp\\c.txt"};
    for (int id : {IDC_LOAD_IMAGES, IDC_BROWSE_IMAGE, IDC_BROWSE_IMAGE2}) {
        view.click(id);
        EXPECT_TRUE(library->callLog().empty()) << id;
        EXPECT_TRUE(view.fileDialogs().empty()) << id;
        EXPECT_EQ(status(), kStatusBefore) << id;
        EXPECT_TRUE(dialog.flags().reloadRequired) << id;
        EXPECT_EQ(iniText(), kIniBefore) << id;
    }
    EXPECT_EQ(view.text(IDC_IMAGE_FILE), "a.txt");
}

TEST_F(ImageLoaderTest, BrowseButtonsAskForObjectFilesUnderTheirTitles) {
    dialog.flags().reloadRequired = false;
    view.fileChoice = {2, "Z:\\tmp\\first.hex"};
    view.click(IDC_BROWSE_IMAGE);
    view.fileChoice = {1, "Z:\\tmp\\second.txt"};
    view.click(IDC_BROWSE_IMAGE2);

    ASSERT_EQ(view.fileDialogs().size(), 2u);
    EXPECT_EQ(view.fileDialogs()[0].title, "Load programmer unit");
    EXPECT_EQ(view.fileDialogs()[1].title, "Append programmer unit");
    for (const auto& asked : view.fileDialogs()) {
        EXPECT_EQ(asked.filter, kObjectFilter);
    }
    EXPECT_EQ(view.text(IDC_IMAGE_FILE), "Z:\\tmp\\first.hex");
    EXPECT_EQ(view.text(IDC_IMAGE2_FILE), "Z:\\tmp\\second.txt");
    EXPECT_TRUE(dialog.flags().reloadRequired);
}

TEST_F(ImageLoaderTest, SelectObjectFileStoresTheChoiceOfItsKind) {
    const struct {
        ObjectFileKind kind;
        int filter;
        FileChoice choice;
        int returned;
        std::string imageFile;
        std::string image2File;
        std::string firmwareFile;
    } cases[] = {
        {ObjectFileKind::Load, IDS_OBJECT_FILE_FILTER, {0, "Z:\\c.txt"}, 0, "old1", "old2", ""},
        {ObjectFileKind::Load,
         IDS_OBJECT_FILE_FILTER,
         {3, "Z:\\c.zhx"},
         3,
         "Z:\\c.zhx",
         "old2",
         ""},
        {ObjectFileKind::Append, IDS_OBJECT_FILE_FILTER, {1, ""}, 1, "old1", " ", ""},
        {ObjectFileKind::Upgrade,
         IDS_FIRMWARE_FILE_FILTER,
         {1, "Z:\\OCTO816-156.TXT"},
         1,
         "old1",
         "old2",
         "Z:\\OCTO816-156.TXT"},
    };
    for (const auto& c : cases) {
        fileNames("old1", "old2");
        dialog.state().firmwareFile.clear();
        dialog.flags().reloadRequired = false;
        view.fileChoice = c.choice;
        EXPECT_EQ(dialog.imageLoader().selectObjectFile(c.kind, c.filter), c.returned);
        EXPECT_EQ(view.text(IDC_IMAGE_FILE), c.imageFile);
        EXPECT_EQ(view.text(IDC_IMAGE2_FILE), c.image2File);
        EXPECT_EQ(dialog.state().firmwareFile, c.firmwareFile);
        EXPECT_EQ(dialog.flags().reloadRequired, c.returned != 0) << c.choice.path;
    }
    EXPECT_EQ(view.fileDialogs().back().title, "Upgrade programmer unit");
    EXPECT_EQ(view.fileDialogs().back().filter, kFirmwareFilter);
}

TEST_F(ImageLoaderTest, OnlyTypingTheFirstFileNameAsksForAReload) {
    dialog.flags().reloadRequired = false;
    view.setEditText(IDC_IMAGE2_FILE, "typed2.hex");
    EXPECT_FALSE(dialog.flags().reloadRequired);
    view.setEditText(IDC_IMAGE_FILE, "typed1.txt");
    EXPECT_TRUE(dialog.flags().reloadRequired);
    EXPECT_EQ(dialog.settings().imageFile, "typed1.txt");
    EXPECT_EQ(dialog.settings().image2File, "typed2.hex") << "taken with the controls";
}

TEST_F(ImageLoaderTest, ImageSlotControlsSelectTheirSlot) {
    const struct {
        int id;
        int notifyCode;
        int row;
        std::string call;
    } cases[] = {
        {IDC_IMAGE_NUMBER, notify::kSelectionChange, 5, "OctoSelectImage 5"},
        {IDC_IMAGE0, notify::kClicked, -1, "OctoSelectImage 0"},
        {IDC_IMAGE1, notify::kClicked, -1, "OctoSelectImage 1"},
    };
    for (const auto& c : cases) {
        if (c.row >= 0) {
            view.setListSelection(IDC_IMAGE_NUMBER, c.row);
        }
        library->script("OctoSelectImage", {7});
        dialog.onCommand(c.id, c.notifyCode);
        ASSERT_FALSE(library->callLog().empty());
        EXPECT_EQ(library->callLog().back(), c.call);
        EXPECT_EQ(status(), kStatusBefore) << "the answer is not used";
    }
}

} // namespace
} // namespace octo
