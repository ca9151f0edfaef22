// Loading the unit's image memory: Load Image(s), the two object file names with their
// browse buttons, the file selection the firmware upgrade shares, and the image-slot
// controls.
#pragma once

#include "app/OperationFlags.h"
#include "app/Platform.h"
#include "app/ProgramState.h"
#include "app/View.h"
#include "devices/DeviceCatalogue.h"
#include "link/OperationBracket.h"
#include "link/ProgrammerLibrary.h"
#include "settings/ProfileStore.h"
#include "settings/Settings.h"

#include <cstdint>
#include <string>

namespace octo {

// What a file selection is for: its dialog title and where the chosen path goes.
enum class ObjectFileKind { Load, Upgrade, Append };

// A file name counts as given when it is longer than one character: an empty choice is
// stored as a single blank.
bool isFileGiven(const std::string& name);

class ImageLoader {
public:
    ImageLoader(View& view, const Platform& platform, LibrarySlot& library, ProfileStore& profile,
                Settings& settings, OperationFlags& flags, ProgramState& state,
                OperationBracket& bracket, DeviceCatalogue& catalogue)
        : view_(view), platform_(platform), library_(library), profile_(profile),
          settings_(settings), flags_(flags), state_(state), bracket_(bracket),
          catalogue_(catalogue) {}

    // Erases the image memory and loads the given files for the selected type; a success
    // is recorded in the configuration file. Nothing while the settings are locked.
    void onLoadImages();
    // The first file name was edited.
    void onImageFileChanged();
    // A browse button: chooses the file of that kind, unless the settings are locked.
    void onBrowse(ObjectFileKind kind);
    // Lets the operator choose a file and stores its path for the kind. Returns the 1-based
    // index of the filter used, 0 when the dialog was cancelled (nothing changes then).
    int selectObjectFile(ObjectFileKind kind, int filterStringId);
    // The image-number list and the "img 0" / "img 1" buttons make a slot of the unit's
    // image memory current; the unit's answer is shown nowhere, but an accepted slot is the
    // one whose confirmed CRC the traceability log gives.
    void onImageNumberChanged();
    void onImageButton(int id);

private:
    struct Outcome {
        bool loaded = false;     // erased and every given file loaded
        bool overlapped = false; // a load found data for addresses already filled
        std::string typeName;
    };

    Outcome eraseAndLoad();
    // One OctoLoadImage; true when the file was loaded.
    bool loadFile(const std::string& path, Outcome& outcome);
    void recordLoad(uint32_t startMs, const std::string& typeName);
    std::string& pathOf(ObjectFileKind kind);
    void selectImage(uint32_t slot);

    View& view_;
    const Platform& platform_;
    LibrarySlot& library_;
    ProfileStore& profile_;
    Settings& settings_;
    OperationFlags& flags_;
    ProgramState& state_;
    OperationBracket& bracket_;
    DeviceCatalogue& catalogue_;
};

} // namespace octo
