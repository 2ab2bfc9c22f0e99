// Files written under temporary names and renamed over their final names once
// complete, so that no run leaves a half-written file where a later one would
// trust it.
#include "control/console.h"
#include "control/control.h"
#include "control/host.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

namespace {

// Paths live in fixed storage so that a signal handler can remove the
// temporary files without allocating.
constexpr std::size_t kTemp_max = 4096;

struct Slot {
    std::string final_path;
    std::FILE* f = nullptr;
    bool text = false;
    char temp[kTemp_max] = {};
    volatile std::sig_atomic_t pending = 0; // the temporary file may exist
};

Slot g_slots[3];

Slot& slot(Output which) { return g_slots[static_cast<int>(which)]; }

const char kInterrupted[] = "\n\n\tInterrupted : no result was written \n";

// Async-signal-safe: what the POSIX signal handler does before it ends the
// process. Returns the message to show.
const char* remove_temporaries_at_once()
{
    for (Slot& s : g_slots)
        if (s.pending) host_remove_file(s.temp);
    return kInterrupted;
}

} // namespace

std::FILE* create_output(Output which, const std::string& final_path)
{
    Slot& s = slot(which);
    const std::string temp = final_path + "." + std::to_string(host_pid()) + ".tmp";
    if (temp.size() >= kTemp_max)
        fail("\n\n\tCannot create the file %s : path too long \n", final_path.c_str());
    // A stale temporary file of an earlier run with the same process number
    // is removed first; the exclusive creation then guarantees the file is ours.
    host_remove_file(temp.c_str());
    std::memcpy(s.temp, temp.c_str(), temp.size() + 1);
    s.text = which != Output::dem_raster;
    s.f = host_create_file(s.temp, s.text);
    if (!s.f)
        fail("\n\n\tCannot create the file %s : %s \n", final_path.c_str(), std::strerror(errno));
    s.pending = 1;
    s.final_path = final_path;
    return s.f;
}

void fail_write(Output which)
{
    const int err = errno;
    fail("\n\n\tCannot write the file %s : %s \n", slot(which).final_path.c_str(),
         err ? std::strerror(err) : "write error");
}

void close_output(Output which)
{
    Slot& s = slot(which);
    std::FILE* f = s.f;
    s.f = nullptr;
    errno = 0;
    const bool flushed = host_flush_to_disk(f);
    const int err = errno;
    const bool closed = std::fclose(f) == 0;
    if (!flushed || !closed) {
        errno = flushed ? errno : err;
        fail_write(which);
    }
}

void publish_output(Output which)
{
    Slot& s = slot(which);
    if (!host_replace_file(s.temp, s.final_path.c_str())) fail_write(which);
    s.pending = 0;
}

void commit_output(Output which)
{
    close_output(which);
    publish_output(which);
}

void discard_outputs()
{
    // Closed first: an open file cannot be removed on every host.
    for (Slot& s : g_slots) {
        if (s.f) std::fclose(s.f);
        s.f = nullptr;
        if (s.pending) host_remove_file(s.temp);
        s.pending = 0;
    }
}

void interruption_point()
{
    if (host_interrupted()) throw Run_error(kInterrupted);
}

void install_interrupt_handlers() { host_install_interrupts(remove_temporaries_at_once); }
