// Every output's folder is checked, and made when missing, before the work
// begins: a wrong folder is told at once, not after the whole computation.
#include "gis/outputs/output_folders.h"

#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;

void prepare_output_folders(const std::vector<std::string>& paths)
{
    for (const std::string& path : paths) {
        if (path.empty()) continue;
        fs::path dir = fs::path(path).parent_path();
        if (dir.empty()) dir = ".";
        std::error_code ec;
        if (!fs::exists(dir, ec)) {
            fs::create_directories(dir, ec);
            if (ec)
                gis_fail("cannot create the folder %s for %s: %s", dir.c_str(), path.c_str(),
                         ec.message().c_str());
        }
        if (!fs::is_directory(dir, ec))
            gis_fail("cannot write %s: %s is not a folder", path.c_str(), dir.c_str());
        if (access(dir.c_str(), W_OK | X_OK) != 0)
            gis_fail("cannot write %s: the folder %s is not writable", path.c_str(), dir.c_str());
    }
}
