// Files written under temporary names and renamed over their final names once
// complete, so that no run leaves a half-written file where a later one would
// trust it.
#include "control/console.h"
#include "control/control.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Paths live in fixed storage so that the signal handler can remove the
// temporary files without allocating.
constexpr std::size_t kTemp_max = 4096;

struct Slot {
    std::string final_path;
    std::FILE* f = nullptr;
    char temp[kTemp_max] = {};
    volatile std::sig_atomic_t pending = 0; // the temporary file exists
};

Slot g_slots[3];

Slot& slot(Output which) { return g_slots[static_cast<int>(which)]; }

extern "C" void on_interrupt(int)
{
    for (Slot& s : g_slots)
        if (s.pending) unlink(s.temp);
    static const char msg[] = "\n\n\tInterrupted : no result was written \n";
    ssize_t ignored = write(STDOUT_FILENO, msg, sizeof msg - 1);
    (void)ignored;
    _exit(1);
}

} // namespace

std::FILE* create_output(Output which, const std::string& final_path)
{
    Slot& s = slot(which);
    const std::string temp = final_path + "." + std::to_string(getpid()) + ".tmp";
    if (temp.size() >= kTemp_max)
        fail("\n\n\tCannot create the file %s : path too long \n", final_path.c_str());
    // A stale temporary file of an earlier run with the same process number
    // is removed first; O_EXCL then guarantees the file is ours.
    unlink(temp.c_str());
    std::memcpy(s.temp, temp.c_str(), temp.size() + 1);
    const int fd = open(s.temp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        fail("\n\n\tCannot create the file %s : %s \n", final_path.c_str(), std::strerror(errno));
    s.pending = 1;
    s.final_path = final_path;
    s.f = fdopen(fd, "w");
    if (!s.f) {
        close(fd);
        fail("\n\n\tCannot create the file %s : %s \n", final_path.c_str(), std::strerror(errno));
    }
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
    const bool flushed = std::fflush(f) == 0 && !std::ferror(f) && fsync(fileno(f)) == 0;
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
    if (std::rename(s.temp, s.final_path.c_str()) != 0) fail_write(which);
    s.pending = 0;
}

void commit_output(Output which)
{
    close_output(which);
    publish_output(which);
}

void discard_outputs()
{
    for (Slot& s : g_slots) {
        if (s.f) std::fclose(s.f);
        s.f = nullptr;
        if (s.pending) unlink(s.temp);
        s.pending = 0;
    }
}

void install_interrupt_handlers()
{
    struct sigaction sa {};
    sa.sa_handler = on_interrupt;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);
}
