// Files written under temporary names and renamed over their final names once
// complete, so that no run leaves a half-written file where a later one would
// trust it.
#include "control/console.h"
#include "control/control.h"
#include "control/host.h"

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
    char temp[kTemp_max] = {};
    volatile std::sig_atomic_t pending = 0; // the temporary file may exist
};

Slot g_slots[3];

Slot& slot(Output which) { return g_slots[static_cast<int>(which)]; }

// What an interrupt reports: it changes once the DEM is in place, so that
// the message never denies a result that was written.
const char kNothing_written[] = "\n\n\tInterrupted : no result was written \n";
char g_dem_written[kTemp_max + 64] = {};
const char* volatile g_interrupt_message = kNothing_written;

// Async-signal-safe: what the POSIX signal handler does before it ends the
// process. Returns the message to show.
const char* remove_temporaries_at_once()
{
    for (Slot& s : g_slots)
        if (s.pending) host_remove_file(s.temp);
    return g_interrupt_message;
}

// Holds interrupts while it lives: a temporary file is registered in the
// same step as it is created, and a commit runs whole.
struct Interrupts_held {
    Interrupts_held() { host_hold_interrupts(); }
    ~Interrupts_held() { host_release_interrupts(); }
    Interrupts_held(const Interrupts_held&) = delete;
    Interrupts_held& operator=(const Interrupts_held&) = delete;
};

struct Result_locked {
    Result_locked() = default;
    ~Result_locked() { host_unlock_result(); }
    Result_locked(const Result_locked&) = delete;
    Result_locked& operator=(const Result_locked&) = delete;
};

[[noreturn]] void fail_write_errno(Output which, int err)
{
    errno = err;
    fail_write(which);
}

} // namespace

std::FILE* create_output(Output which, const std::string& final_path)
{
    Slot& s = slot(which);
    const std::string temp = final_path + "." + std::to_string(host_pid()) + ".tmp";
    if (temp.size() >= kTemp_max)
        fail("\n\n\tCannot create the file %s : path too long \n", final_path.c_str());
    s.final_path = final_path;
    {
        const Interrupts_held held;
        // A stale temporary file of an earlier run with the same process
        // number is removed first; the exclusive creation then guarantees
        // the file is ours.
        host_remove_file(temp.c_str());
        std::memcpy(s.temp, temp.c_str(), temp.size() + 1);
        s.pending = 1;
        s.f = host_create_file(s.temp, which != Output::dem_raster);
        if (s.f) return s.f;
        s.pending = 0;
    }
    fail("\n\n\tCannot create the file %s : %s \n", final_path.c_str(), std::strerror(errno));
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

void publish_dem()
{
    Slot& h = slot(Output::dem_header);
    Slot& r = slot(Output::dem_raster);
    interruption_point();
    // Another run publishing the same DEM waits here, so that each pair is
    // one run's.
    const Result_locked locked;
    if (!host_lock_result(r.final_path)) {
        interruption_point();
        fail_write(Output::dem_raster);
    }
    const Interrupts_held held;

    // The earlier header steps aside, kept until the new raster is in place.
    const std::string backup = h.final_path + "." + std::to_string(host_pid()) + ".old.tmp";
    host_remove_file(backup.c_str());
    const bool kept = host_replace_file(h.final_path.c_str(), backup.c_str());
    if (!kept && errno != ENOENT) fail_write(Output::dem_header);
    const auto put_back = [&] {
        return kept ? host_replace_file(backup.c_str(), h.final_path.c_str())
                    : host_remove_file(h.final_path.c_str()) || errno == ENOENT;
    };

    if (!host_replace_file(h.temp, h.final_path.c_str())) {
        const int err = errno;
        if (kept) host_replace_file(backup.c_str(), h.final_path.c_str());
        fail_write_errno(Output::dem_header, err);
    }
    h.pending = 0;
    if (!host_replace_file(r.temp, r.final_path.c_str())) {
        const int err = errno;
        if (!put_back())
            fail("\n\n\tCannot write the file %s : %s : the earlier header %s is kept as %s \n",
                 r.final_path.c_str(), std::strerror(err), h.final_path.c_str(), backup.c_str());
        fail_write_errno(Output::dem_raster, err);
    }
    r.pending = 0;
    std::snprintf(g_dem_written, sizeof g_dem_written,
                  "\n\n\tInterrupted : the DEM %s was written \n", r.final_path.c_str());
    g_interrupt_message = g_dem_written;
    if (kept) host_remove_file(backup.c_str());
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

bool interrupt_pending()
{
    // A run with a channel of its own has no console to lose.
    const Run_channel* ch = run_channel();
    if (ch) return ch->stop.load(std::memory_order_relaxed) || host_interrupted();
    return host_interrupted() || console_lost();
}

void interruption_point()
{
    if (interrupt_pending()) throw Run_error(g_interrupt_message);
}

void install_interrupt_handlers()
{
    g_interrupt_message = kNothing_written;
    host_install_interrupts(remove_temporaries_at_once);
}
