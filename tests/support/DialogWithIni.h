// A main window core on a real configuration file in a temporary folder, with the
// in-memory view, the scripted library and the fake platform: what the settings and the
// device catalogue tests build on.
#pragma once

#include "support/DialogFixture.h"
#include "support/TempFolder.h"

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
        dialog.setConfigPath(folder.file("OCTO816.INI"));
        dialog.showMembers();
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

    TempFolder folder{"octo_dialog"};
};

} // namespace octo::testing
