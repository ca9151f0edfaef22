// Writes the generated part of dist/: octo_gendist DIST_DIR
#include "dist_content.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: octo_gendist DIST_DIR\n", stderr);
        return 2;
    }
    const std::filesystem::path root(argv[1]);
    for (const auto& file : octo::tools::distFiles()) {
        const auto path = root / file.path;
        std::error_code error;
        std::filesystem::create_directories(path.parent_path(), error);
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(file.content.data(), static_cast<std::streamsize>(file.content.size()));
        if (!out) {
            std::fprintf(stderr, "octo_gendist: cannot write %s\n", path.string().c_str());
            return 1;
        }
    }
    return 0;
}
