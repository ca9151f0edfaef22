// The device-type sections of OCTO816.INI, generated from the device database so that
// the configuration file offers exactly the types GetDevice knows.
#pragma once

#include <string>

namespace octo::devices {

// One section per type, in table order, CR LF line ends:
//   [ZEL816 A110]
//   Group=1
//   Vpp=27
//   DlkAble=0
//   JTAG4disable=0
std::string deviceSectionsText();

} // namespace octo::devices
