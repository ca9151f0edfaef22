#include "devices/ini_sections.h"

#include "devices/device_table.h"

namespace octo::devices {

std::string deviceSectionsText() {
    std::string text;
    for (const auto& type : deviceTypes()) {
        text += "[";
        text += type.name;
        text += "]\r\nGroup=" + std::to_string(type.group);
        text += "\r\nVpp=" + std::to_string(type.vpp);
        text += "\r\nDlkAble=" + std::to_string(type.dlkAble);
        text += "\r\nJTAG4disable=" + std::to_string(type.jtag4Disable) + "\r\n";
    }
    return text;
}

} // namespace octo::devices
