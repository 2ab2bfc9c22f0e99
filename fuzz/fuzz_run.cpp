// Whole runs driven by fuzzed answers and a fuzzed small raster, under a
// temporary home. Input layout: one flag byte, the answers up to a NUL byte,
// the header text up to a NUL byte, then the raster bytes.
// Flag bit 0: write the header file (else the run must create it).
// Every run must end with status 0 and complete DEM files, or status 1 and
// no DEM; never a temporary file of the program left behind.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <unistd.h>

#include "base/console.h"
#include "control/control.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kRaster_max = 4096;

const fs::path& images_folder()
{
    static const fs::path folder = [] {
        std::string home = (fs::temp_directory_path() / "rf_fuzz_XXXXXX").string();
        if (!mkdtemp(home.data())) std::abort();
        setenv("HOME", home.c_str(), 1);
        fs::create_directories(fs::path(home) / "images" / "f");
        return fs::path(home) / "images" / "f";
    }();
    return folder;
}

void put(const fs::path& p, std::string_view bytes)
{
    std::ofstream(p, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string_view take_until_nul(std::string_view& rest)
{
    const std::size_t end = rest.find('\0');
    const std::string_view part = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
    return part;
}

Program_state* g_state = nullptr;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) return 0;
    static std::FILE* null_console = std::fopen("/dev/null", "w");
    const fs::path& dir = images_folder();
    for (const auto& e : fs::directory_iterator(dir)) fs::remove_all(e.path());

    std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::string answers(take_until_nul(rest));
    const std::string_view header = take_until_nul(rest);
    const std::string_view raster = rest.substr(0, kRaster_max);
    for (const char* suffix : {"_c2", "_c4"}) {
        put(dir / (std::string("r") + suffix + ".raw"), raster);
        if (data[0] & 1) put(dir / (std::string("r") + suffix + ".txt"), header);
    }

    std::FILE* in = answers.empty()
                        ? std::fopen("/dev/null", "r")
                        : fmemopen(const_cast<char*>(answers.data()), answers.size(), "r");
    if (!in) return 0;
    answers_from(in);
    console_redirect(null_console);
    Program_state s;
    g_state = &s;
    const int status = run_guarded([] { run(*g_state); });
    const int val = s.val;
    const long long pixels = static_cast<long long>(s.nb_lig) * s.nb_col;
    release_state(s);
    answers_from(nullptr);
    std::fclose(in);

    // The program's own temporary names: "<name>.<pid>.tmp" while a file is
    // written, "<name>.<pid>.old.tmp" for an earlier header kept aside. A
    // result may itself be named with ".tmp" in it.
    const std::string pid = "." + std::to_string(getpid());
    for (const auto& e : fs::directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        if (name.ends_with(pid + ".tmp") || name.ends_with(pid + ".old.tmp")) std::abort();
        const bool dem = name.find("_m") != std::string::npos;
        if (dem && status != 0) std::abort();
        if (dem && name.ends_with(".raw") && static_cast<long long>(fs::file_size(e.path())) != pixels * val)
            std::abort();
    }
    if (status != 0 && status != 1) std::abort();
    return 0;
}
