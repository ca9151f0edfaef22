// Everything dist/ ships besides documentation, made from the device database and the
// object-file writers: OCTO816.INI, the firmware files and the sample object files.
#pragma once

#include <string>
#include <vector>

namespace octo::tools {

struct DistFile {
    std::string path; // relative to dist/, '/' separated
    std::string content;
};

std::vector<DistFile> distFiles();

} // namespace octo::tools
