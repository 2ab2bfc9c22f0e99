#include "bench_grids.h"

#include "nrutil.h"
#include "raster/raster_files.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {

void release(Program_state& s)
{
    frimatrice(s.itab, s.nb_lig);
    frimatrice(s.itab1, s.nb_lig);
    frimatrice(s.itab2, s.nb_lig);
    s.itab = s.itab1 = s.itab2 = nullptr;
}

} // namespace

Bench_state::Bench_state(int nb_lig, int nb_col)
{
    s.nb_lig = nb_lig;
    s.nb_col = nb_col;
    s.val = 4;
    s.itype = 1;
    s.itab = imatrice(nb_col, nb_lig);
    s.itab1 = imatrice(nb_col, nb_lig);
    s.itab2 = imatrice(nb_col, nb_lig);
    if (!s.itab || !s.itab1 || !s.itab2) {
        release(s);
        throw std::bad_alloc();
    }
}

Bench_state::~Bench_state() { release(s); }

std::string generate_contours(const std::string& dir, int size, int equid, unsigned long seed)
{
    const std::string out = dir + "/bench";
    const std::string side = std::to_string(size);
    std::vector<std::string> args = {RF_GENERATOR,
                                     "--lines",
                                     side,
                                     "--cols",
                                     side,
                                     "--equidistance",
                                     std::to_string(equid),
                                     "--seed",
                                     std::to_string(seed),
                                     "--out",
                                     out};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, RF_GENERATOR, nullptr, nullptr, argv.data(), environ) != 0)
        throw std::runtime_error("cannot start " + std::string(RF_GENERATOR));
    int status = 0;
    if (waitpid(pid, &status, 0) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("contour_gen failed");
    return out + "_c4.raw";
}

bool read_raster_size(const std::string& path, int& nb_lig, int& nb_col)
{
    if (path.size() < 4 || path.compare(path.size() - 4, 4, ".raw") != 0) return false;
    const std::string header = path.substr(0, path.size() - 4) + ".txt";
    std::FILE* f = std::fopen(header.c_str(), "r");
    if (!f) return false;
    Program_state s;
    const int values = read_input_header(f, s);
    std::fclose(f);
    nb_lig = s.nb_lig;
    nb_col = s.nb_col;
    return values >= 2 && nb_lig > 0 && nb_col > 0;
}

void load_contours(Program_state& s, const std::string& path)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) throw std::runtime_error("cannot open " + path);
    const auto cols = static_cast<std::size_t>(s.nb_col);
    bool ok = true;
    for (int i = 0; i < s.nb_lig && ok; ++i) ok = std::fread(s.itab[i], 4, cols, f) == cols;
    std::fclose(f);
    if (!ok) throw std::runtime_error("short raster " + path);
}

void copy_grids(const Program_state& from, Program_state& to)
{
    const auto bytes = static_cast<std::size_t>(from.nb_col) * sizeof(int);
    for (int i = 0; i < from.nb_lig; ++i) std::memcpy(to.itab[i], from.itab[i], bytes);
    for (int i = 0; i < from.nb_lig; ++i) std::memcpy(to.itab1[i], from.itab1[i], bytes);
    for (int i = 0; i < from.nb_lig; ++i) std::memcpy(to.itab2[i], from.itab2[i], bytes);
}

std::string grid_difference(int** a, int** b, int nb_lig, int nb_col)
{
    for (int i = 0; i < nb_lig; ++i)
        for (int j = 0; j < nb_col; ++j)
            if (a[i][j] != b[i][j])
                return "line " + std::to_string(i) + ", column " + std::to_string(j) + ": " +
                       std::to_string(a[i][j]) + " against " + std::to_string(b[i][j]);
    return "";
}
