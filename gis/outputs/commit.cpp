// The outputs of a command, written under temporary names and committed
// together, as the interactive program commits its DEM pair: the lock, the
// held signals, the earlier files kept aside and put back on a failure.
#include "gis/outputs/commit.h"

#include "base/host.h"
#include "gis/gis.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// The temporary paths, in fixed storage, so that the signal handler removes
// them without allocating.
constexpr int kSlots = 64;
constexpr std::size_t kTemp_path_max = 4096;
char g_temp[kSlots][kTemp_path_max];
volatile std::sig_atomic_t g_live[kSlots];

// What GDAL writes beside a file while it writes it: a COG's overviews and
// their mask, a GeoTIFF's external overviews, the auxiliary metadata.
constexpr const char* kGdal_suffixes[] = {"",     ".ovr.tmp", ".msk.ovr.tmp",   ".aux.xml",
                                          ".ovr", ".msk",     ".warped.tif.tmp"};
constexpr std::size_t kSuffix_room = 24;

const char kNothing_written[] = "relief_forge_gis: interrupted; no file was written\n";
char g_written[kTemp_path_max * 2];
const char* volatile g_interrupt_message = kNothing_written;

enum class Stage { before, working, committed };
Stage g_stage = Stage::before;

// Async-signal-safe: removes `temp` and GDAL's temporaries beside it.
void remove_with_gdal_temporaries(const char* temp)
{
    char path[kTemp_path_max + kSuffix_room];
    const std::size_t n = std::strlen(temp);
    for (const char* suffix : kGdal_suffixes) {
        std::memcpy(path, temp, n);
        std::strcpy(path + n, suffix);
        unlink(path);
    }
}

const char* remove_temporaries_at_once()
{
    for (int k = 0; k < kSlots; ++k)
        if (g_live[k]) remove_with_gdal_temporaries(g_temp[k]);
    const char* msg = g_interrupt_message;
    ssize_t ignored = write(STDERR_FILENO, msg, std::strlen(msg));
    (void)ignored;
    return "";
}

// The staged files handed over by Staged_file::publish, with their slots.
struct Pending {
    Output_pair pair;
    int slot;
};
std::vector<Pending> g_pending;

// The exclusive locks of the output folders, taken in the order of their
// names and released (after the renames reach the disk) in any order.
struct Folder_locks {
    std::vector<int> fds;
    ~Folder_locks()
    {
        for (int fd : fds) {
            fsync(fd);
            close(fd);
        }
    }
    bool lock(const std::vector<std::string>& finals, std::string& failed)
    {
        std::vector<std::string> folders;
        for (const std::string& f : finals) {
            const fs::path dir = fs::path(f).parent_path();
            std::error_code ec;
            const fs::path canonical = fs::weakly_canonical(dir.empty() ? "." : dir, ec);
            folders.push_back(ec ? (dir.empty() ? "." : dir.string()) : canonical.string());
        }
        std::sort(folders.begin(), folders.end());
        folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
        for (const std::string& dir : folders) {
            const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            int r = fd < 0 ? -1 : 0;
            if (fd >= 0)
                while ((r = flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
                }
            if (r != 0) {
                const int err = errno;
                if (fd >= 0) close(fd);
                failed = dir;
                errno = err;
                return false;
            }
            fds.push_back(fd);
        }
        return true;
    }
};

struct Signals_held {
    Signals_held() { host_hold_interrupts(); }
    ~Signals_held() { host_release_interrupts(); }
    Signals_held(const Signals_held&) = delete;
    Signals_held& operator=(const Signals_held&) = delete;
};

} // namespace

std::string temporary_name(const std::string& final_path)
{
    return final_path + "." + std::to_string(getpid()) + ".tmp";
}

int track_temporary(const std::string& temp_path)
{
    if (temp_path.size() >= kTemp_path_max) return -1;
    for (int k = 0; k < kSlots; ++k)
        if (!g_live[k]) {
            std::memcpy(g_temp[k], temp_path.c_str(), temp_path.size() + 1);
            g_live[k] = 1;
            return k;
        }
    return -1;
}

void untrack_temporary(int slot, bool remove_files)
{
    if (slot < 0) return;
    if (remove_files) remove_with_gdal_temporaries(g_temp[slot]);
    g_live[slot] = 0;
}

void commit_outputs(const std::vector<Output_pair>& pairs)
{
    if (pairs.empty()) return;
    // The new files reach the disk before they take the earlier ones' place.
    for (const Output_pair& p : pairs) {
        const int fd = open(p.temp_path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || fsync(fd) != 0) {
            const int err = errno;
            if (fd >= 0) close(fd);
            gis_fail("cannot write %s: %s; no file was written", p.final_path.c_str(),
                     std::strerror(err));
        }
        close(fd);
    }
    std::vector<std::string> finals;
    for (const Output_pair& p : pairs) finals.push_back(p.final_path);
    Folder_locks locks;
    std::string folder;
    if (!locks.lock(finals, folder))
        gis_fail("cannot lock the folder %s to write %s: %s; no file was written", folder.c_str(),
                 finals.front().c_str(), std::strerror(errno));
    const Signals_held held;

    // The earlier files step aside, kept until every new one is in place.
    std::vector<std::string> backups(pairs.size());
    std::vector<bool> kept(pairs.size(), false);
    std::size_t renamed = 0;
    int err = 0;
    std::string failed;
    for (std::size_t k = 0; k < pairs.size() && !err; ++k) {
        backups[k] = pairs[k].final_path + "." + std::to_string(getpid()) + ".old.tmp";
        unlink(backups[k].c_str());
        // A folder put in an output's place since the check is not moved.
        struct stat st {};
        if (lstat(pairs[k].final_path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            err = EISDIR;
            failed = pairs[k].final_path;
        } else if (std::rename(pairs[k].final_path.c_str(), backups[k].c_str()) == 0)
            kept[k] = true;
        else if (errno != ENOENT) {
            err = errno;
            failed = pairs[k].final_path;
        }
    }
    for (; renamed < pairs.size() && !err; ++renamed)
        if (std::rename(pairs[renamed].temp_path.c_str(), pairs[renamed].final_path.c_str()) != 0) {
            err = errno;
            failed = pairs[renamed].final_path;
        }
    if (err) {
        // The new files go back to their temporary names, the earlier ones
        // to their own.
        for (std::size_t k = 0; k < renamed; ++k)
            std::rename(pairs[k].final_path.c_str(), pairs[k].temp_path.c_str());
        std::string lost;
        for (std::size_t k = 0; k < pairs.size(); ++k)
            if (kept[k] && std::rename(backups[k].c_str(), pairs[k].final_path.c_str()) != 0)
                lost +=
                    (lost.empty() ? "" : ", ") + pairs[k].final_path + " is kept as " + backups[k];
        g_stage = Stage::committed;
        if (!lost.empty())
            gis_fail("cannot write %s: %s; no new file was written, and the earlier %s",
                     failed.c_str(), std::strerror(err), lost.c_str());
        gis_fail("cannot write %s: %s; no file was written, the earlier files are as they were",
                 failed.c_str(), std::strerror(err));
    }
    for (std::size_t k = 0; k < pairs.size(); ++k)
        if (kept[k]) unlink(backups[k].c_str());
    std::string names;
    for (const std::string& f : finals) names += (names.empty() ? "" : ", ") + f;
    std::snprintf(g_written, sizeof g_written, "relief_forge_gis: interrupted after it wrote %s\n",
                  names.c_str());
    g_interrupt_message = g_written;
    g_stage = Stage::committed;
}

Staged_outputs::Staged_outputs() { g_pending.clear(); }

Staged_outputs::~Staged_outputs()
{
    for (const Pending& p : g_pending) {
        if (p.slot >= 0)
            untrack_temporary(p.slot, true);
        else
            remove_with_gdal_temporaries(p.pair.temp_path.c_str());
    }
    g_pending.clear();
}

void Staged_outputs::commit()
{
    std::vector<Output_pair> pairs;
    for (const Pending& p : g_pending) pairs.push_back(p.pair);
    commit_outputs(pairs);
    for (const Pending& p : g_pending) untrack_temporary(p.slot, false);
    g_pending.clear();
}

const char* failure_outcome() { return g_stage == Stage::working ? "; no file was written" : ""; }

void outputs_checked() { g_stage = Stage::working; }

void install_interrupt_cleanup() { host_install_interrupts(remove_temporaries_at_once); }

Staged_file::Staged_file(std::string path, std::string temp)
    : final_path(std::move(path)),
      temp_path(temp.empty() ? temporary_name(final_path) : std::move(temp))
{
    slot = track_temporary(temp_path);
}

Staged_file::~Staged_file()
{
    if (published) return;
    for (std::size_t k = 0; k < companions.size(); ++k) {
        unlink(companions[k].first.c_str());
        untrack_temporary(companion_slots[k], false);
    }
    remove_with_gdal_temporaries(temp_path.c_str());
    untrack_temporary(slot, false);
}

void Staged_file::add_companion(const std::string& temp, const std::string& final_name)
{
    companions.emplace_back(temp, final_name);
    companion_slots.push_back(track_temporary(temp));
}

void Staged_file::publish()
{
    g_pending.push_back({{temp_path, final_path}, slot});
    for (std::size_t k = 0; k < companions.size(); ++k)
        g_pending.push_back({{companions[k].first, companions[k].second}, companion_slots[k]});
    published = true;
}

void end_at_gdal_fatal(bool out_of_memory, const char* message)
{
    host_hold_interrupts();
    for (int k = 0; k < kSlots; ++k)
        if (g_live[k]) remove_with_gdal_temporaries(g_temp[k]);
    const char* outcome = g_stage == Stage::committed ? "" : "; no file was written";
    if (out_of_memory)
        std::fprintf(stderr, "relief_forge_gis: not enough memory to go on (GDAL: %s)%s\n", message,
                     outcome);
    else
        std::fprintf(stderr, "relief_forge_gis: GDAL failed: %s%s\n", message, outcome);
    _exit(1);
}
