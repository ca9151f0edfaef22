// A main window core on a real configuration file in a temporary folder, with the
// in-memory view, the scripted library and the fake platform: what the settings and the
// device catalogue tests build on.
#pragma once

#include "support/DialogFixture.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace octo::testing {

class DialogWithIni : public DialogUnderTest<> {
protected:
    DialogWithIni() {
        static int counter = 0;
        folder = std::filesystem::temp_directory_path() /
                 ("octo_dialog_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
        std::filesystem::create_directories(folder);
        dialog.setConfigPath((folder / "OCTO816.INI").string());
        dialog.showMembers();
    }
    ~DialogWithIni() override {
        std::error_code ec;
        std::filesystem::permissions(dialog.configPath(), std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(folder, ec);
    }

    void ini(const std::string& text) {
        std::ofstream out(dialog.configPath(), std::ios::binary | std::ios::trunc);
        out << text;
    }
    std::string iniText() const {
        std::ifstream in(dialog.configPath(), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    int32_t iniInt(const char* section, const char* key, int32_t def = -999) {
        return dialog.profile().readInt(section, key, def);
    }

    std::filesystem::path folder;
};

} // namespace octo::testing
