// Every output is checked, and its folder made when missing, before the work
// begins: a wrong name is told at once, not after the whole computation.
#include "gis/outputs/output_folders.h"

#include "gis/outputs/commit.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Room for what is added to an output's name in its folder while it is
// written: ".<pid>.tmp" and GDAL's ".msk.ovr.tmp" after it.
constexpr std::size_t kTemporary_suffix = 32;

void check_output_file(const std::string& path)
{
    if (path.rfind("/vsi", 0) == 0)
        gis_fail("cannot write %s: outputs are written on the disk, not in GDAL's virtual files",
                 path.c_str());
    const fs::path name = fs::path(path).filename();
    if (name.empty() || name == "." || name == "..")
        gis_fail("cannot write %s: it names a folder, not a file", path.c_str());
    if (name.string().size() + kTemporary_suffix > NAME_MAX)
        gis_fail("cannot write %s: its name is %zu bytes long, and at most %zu fit beside the "
                 "temporary names it is written under",
                 path.c_str(), name.string().size(),
                 static_cast<std::size_t>(NAME_MAX) - kTemporary_suffix);
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) gis_fail("cannot write %s: it is a folder", path.c_str());
    if (!S_ISREG(st.st_mode))
        gis_fail("cannot write %s: it is not a regular file (a FIFO, a device or a socket)",
                 path.c_str());
    if (access(path.c_str(), W_OK) != 0)
        gis_fail("cannot write %s: the file is read-only", path.c_str());
}

} // namespace

void prepare_output_folders(const std::vector<std::string>& paths)
{
    for (const std::string& path : paths) {
        if (path.empty()) continue;
        check_output_file(path);
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
    outputs_checked();
}
