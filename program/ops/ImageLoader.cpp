#include "ops/ImageLoader.h"

#include "resources/StringIds.h"
#include "resources/resource.h"
#include "settings/ConfigKeys.h"

#include <charconv>
#include <string_view>

namespace octo {

namespace {

// OctoLoadImage: 17 still means loaded; 53 means the file holds data for addresses that
// are already filled, a case the library has no text for.
constexpr int32_t kLoadedWithWarning = 17;
constexpr int32_t kAlreadySpecified = 53;
constexpr char kAlreadySpecifiedText[] =
    "ERROR: File(s) contains already specified data (code overwritten)!";

constexpr std::size_t kShortestGivenName = 2;
constexpr char kNoFileChosen[] = " ";
// The image-number list offers slots 0 to 7.
constexpr int kImageSlotMask = 7;
constexpr uint32_t kFirstSlot = 0;
constexpr uint32_t kSecondSlot = 1;

// The library's message after a load names the CRC-32 the unit confirmed for the whole
// slot: "Image loaded: <n> bytes, CRC-32 <8 hex digits>.", perhaps with a warning after it.
constexpr std::string_view kCrcText = ", CRC-32 ";
constexpr std::size_t kCrcDigits = 8;
constexpr int kHex = 16;

std::optional<uint32_t> confirmedCrc(std::string_view message) {
    const std::size_t at = message.find(kCrcText);
    if (at == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view digits = message.substr(at + kCrcText.size(), kCrcDigits);
    uint32_t crc = 0;
    if (std::from_chars(digits.begin(), digits.end(), crc, kHex).ptr !=
        digits.data() + kCrcDigits) {
        return std::nullopt;
    }
    return crc;
}

const char* titleOf(ObjectFileKind kind) {
    switch (kind) {
    case ObjectFileKind::Upgrade:
        return "Upgrade programmer unit";
    case ObjectFileKind::Append:
        return "Append programmer unit";
    default:
        return "Load programmer unit";
    }
}

} // namespace

bool isFileGiven(const std::string& name) {
    return name.size() >= kShortestGivenName;
}

void ImageLoader::onLoadImages() {
    if (settings_.locked()) {
        return;
    }
    const uint32_t startMs = platform_.tickCount();
    bracket_.beginOperation();
    takeControls(view_, settings_);
    const Outcome outcome = eraseAndLoad();
    if (outcome.loaded) {
        recordLoad(startMs, outcome.typeName);
    }
    if (outcome.overlapped) {
        view_.setText(IDC_STATUS_LINE, kAlreadySpecifiedText);
    }
    bracket_.endOperation();
    // Also after a failure: Start must not keep the operator from running against it.
    flags_.reloadRequired = false;
}

ImageLoader::Outcome ImageLoader::eraseAndLoad() {
    Outcome outcome;
    // Failed or not, what the slots held is gone or unknown.
    const int32_t erased = library_->eraseImage();
    state_.imageCrc32.fill(std::nullopt);
    // The library has written its own message when the erase fails.
    if (erased != 0) {
        return outcome;
    }
    outcome.typeName = view_.listRow(IDC_DEVICE_TYPE, settings_.devType);
    catalogue_.refreshDevice(outcome.typeName, false);
    bool firstLoaded = false;
    if (isFileGiven(settings_.imageFile)) {
        if (!loadFile(settings_.imageFile, outcome)) {
            return outcome;
        }
        firstLoaded = true;
    }
    if (isFileGiven(settings_.image2File)) {
        // Without it the second file would replace the first instead of joining it.
        if (firstLoaded) {
            library_->appendImage();
        }
        if (!loadFile(settings_.image2File, outcome)) {
            return outcome;
        }
    }
    outcome.loaded = true;
    return outcome;
}

bool ImageLoader::loadFile(const std::string& path, Outcome& outcome) {
    state_.lastResult = library_->loadImage(path, outcome.typeName);
    if (state_.lastResult == kAlreadySpecified) {
        outcome.overlapped = true;
    }
    const bool loaded = state_.lastResult == 0 || state_.lastResult == kLoadedWithWarning;
    // A failed load leaves the slot incomplete.
    state_.imageCrc32[state_.imageSlot] =
        loaded ? confirmedCrc(view_.text(IDC_STATUS_LINE)) : std::nullopt;
    return loaded;
}

void ImageLoader::recordLoad(uint32_t startMs, const std::string& typeName) {
    flags_.estimateStale = true;
    settings_.timeLoadImage = platform_.tickCount() - startMs;
    // Failed writes are ignored: the load itself has succeeded.
    writeTiming(profile_, ini::kTimeLoadImage, settings_.timeLoadImage);
    profile_.writeInt(ini::kSystem, ini::kDevType, settings_.devType);
    profile_.write(ini::kSystem, ini::kDevTypeName, typeName);
    profile_.write(ini::kSystem, ini::kImageFile, settings_.imageFile);
    profile_.write(ini::kSystem, ini::kImage2File, settings_.image2File);
}

void ImageLoader::onImageFileChanged() {
    takeControls(view_, settings_);
    showSettings(view_, settings_);
    flags_.reloadRequired = true;
}

void ImageLoader::onBrowse(ObjectFileKind kind) {
    if (!settings_.locked()) {
        selectObjectFile(kind, IDS_OBJECT_FILE_FILTER);
    }
}

int ImageLoader::selectObjectFile(ObjectFileKind kind, int filterStringId) {
    takeControls(view_, settings_);
    const FileChoice choice =
        view_.chooseFileToOpen(titleOf(kind), view_.loadString(filterStringId));
    if (choice.filterIndex == 0) {
        return 0;
    }
    pathOf(kind) = choice.path.empty() ? kNoFileChosen : choice.path;
    showSettings(view_, settings_);
    flags_.reloadRequired = true;
    return choice.filterIndex;
}

std::string& ImageLoader::pathOf(ObjectFileKind kind) {
    switch (kind) {
    case ObjectFileKind::Upgrade:
        return state_.firmwareFile;
    case ObjectFileKind::Append:
        return settings_.image2File;
    default:
        return settings_.imageFile;
    }
}

void ImageLoader::selectImage(uint32_t slot) {
    // Loads and runs use the slot the unit accepted last.
    if (library_->selectImage(slot) == 0) {
        state_.imageSlot = slot;
    }
}

void ImageLoader::onImageNumberChanged() {
    selectImage(static_cast<uint32_t>(view_.listSelection(IDC_IMAGE_NUMBER) & kImageSlotMask));
}

void ImageLoader::onImageButton(int id) {
    selectImage(id == IDC_IMAGE1 ? kSecondSlot : kFirstSlot);
}

} // namespace octo
