// The host layer on POSIX systems.
#include "base/failure.h"
#include "base/host.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define RF_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define RF_SANITIZED 1
#endif
#endif
#ifndef RF_SANITIZED
#define RF_SANITIZED 0
#endif

namespace {

// The terminal being waited on, and its settings before the wait, for the
// signal handler to restore.
termios g_saved_tty{};
volatile std::sig_atomic_t g_tty_fd = -1;

const char* (*g_at_once)() = nullptr;

// The signals that end a process by default, but SIGKILL and SIGSTOP, which
// cannot be caught, and SIGPIPE and SIGXFSZ, which show as write errors: each
// removes the temporary files first. The real-time ones are added at run time.
constexpr int kEnding_signals[] = {
    SIGINT,
    SIGTERM,
    SIGHUP,
    SIGQUIT,
    SIGALRM,
    SIGUSR1,
    SIGUSR2,
    SIGVTALRM,
    SIGPROF,
    SIGXCPU,
    SIGABRT,
    SIGTRAP,
    SIGSYS,
    SIGIO,
#ifdef SIGPWR
    SIGPWR,
#endif
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
#if !RF_SANITIZED
    // The faults are left to the sanitizers, which report them.
    SIGSEGV,
    SIGBUS,
    SIGILL,
    SIGFPE,
#endif
};

sigset_t ending_set()
{
    sigset_t set;
    sigemptyset(&set);
    for (int sig : kEnding_signals) sigaddset(&set, sig);
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) sigaddset(&set, sig);
    return set;
}

bool is_fault(int sig) { return sig == SIGSEGV || sig == SIGBUS || sig == SIGILL || sig == SIGFPE; }

extern "C" void on_signal(int sig)
{
    if (g_tty_fd >= 0) tcsetattr(g_tty_fd, TCSANOW, &g_saved_tty);
    if (g_at_once) {
        const char* msg = g_at_once();
        ssize_t ignored = write(STDOUT_FILENO, msg, std::strlen(msg));
        (void)ignored;
    }
    // A fault still ends the process by its signal, as a crash: the default
    // action runs once the handler returns.
    if (is_fault(sig)) {
        signal(sig, SIG_DFL);
        raise(sig);
        return;
    }
    _exit(1);
}

int g_lock_fd = -1;

} // namespace

std::string host_base_directory()
{
    const char* home = std::getenv("HOME");
    if (!home || !*home) fail("\n\n\tThe HOME variable is not set : there is no images folder \n");
    std::string base = home;
    if (base.back() != '/') base += '/';
    return base + "images/";
}

const char* host_separator() { return "/"; }

const char* host_path_separators() { return "/"; }

bool host_wait_for_key(std::FILE* in)
{
    const int fd = fileno(in);
    termios saved{};
    if (!isatty(fd) || tcgetattr(fd, &saved) != 0) return false;
    termios raw = saved;
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    g_saved_tty = saved;
    g_tty_fd = fd;
    tcsetattr(fd, TCSANOW, &raw);
    char c;
    // Straight from the terminal: an answer's line end left in the stream
    // must not count as the key.
    while (read(fd, &c, 1) < 0 && errno == EINTR) {
    }
    tcsetattr(fd, TCSANOW, &saved);
    g_tty_fd = -1;
    return true;
}

void host_settle_input_end(std::FILE*) {}

long host_pid() { return static_cast<long>(getpid()); }

std::FILE* host_create_file(const char* path, bool)
{
    const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    std::FILE* f = fdopen(fd, "w");
    if (!f) {
        const int err = errno;
        close(fd);
        errno = err;
    }
    return f;
}

bool host_flush_to_disk(std::FILE* f)
{
    return std::fflush(f) == 0 && !std::ferror(f) && fsync(fileno(f)) == 0;
}

bool host_replace_file(const char* from, const char* to) { return std::rename(from, to) == 0; }

bool host_remove_file(const char* path) { return unlink(path) == 0; }

Input_open host_open_input(const std::string& path, const char* mode, std::FILE*& f)
{
    f = nullptr;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return Input_open::missing;
    if (!S_ISREG(st.st_mode)) return Input_open::not_regular;
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return Input_open::missing;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return Input_open::not_regular;
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags != -1) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    f = fdopen(fd, mode);
    if (!f) {
        close(fd);
        return Input_open::missing;
    }
    return Input_open::opened;
}

bool host_same_file(const std::string& a, const std::string& b)
{
    struct stat sa {
    }, sb{};
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

long long host_file_size(std::FILE* f)
{
    struct stat st {};
    if (fstat(fileno(f), &st) != 0) return -1;
    return static_cast<long long>(st.st_size);
}

bool host_lock_result(const std::string& raster_path)
{
    // The whole folder: no lock file to leave behind, and a commit is short.
    const std::size_t cut = raster_path.find_last_of('/');
    const std::string folder = cut == std::string::npos ? "." : raster_path.substr(0, cut + 1);
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    int r;
    while ((r = flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
    }
    if (r != 0) {
        const int err = errno;
        close(fd);
        errno = err;
        return false;
    }
    g_lock_fd = fd;
    return true;
}

void host_unlock_result()
{
    // The renames reach the disk before another run may publish.
    if (g_lock_fd >= 0) {
        fsync(g_lock_fd);
        close(g_lock_fd);
    }
    g_lock_fd = -1;
}

void host_prefer_large_pages(void* p, std::size_t bytes)
{
#ifdef MADV_HUGEPAGE
    // Kept by measurement on Debian's default settings (transparent huge
    // pages and their defrag both "madvise", so that the kernel compacts
    // memory at the first touch of an advised block): on a machine whose free
    // memory the file cache had taken back after another large program, whole
    // runs at 4096 a side took less wall and system time with the advice, and
    // at 8192 about the same, for a ninth of the page faults. Whole pages
    // only; a host that refuses the advice keeps its usual pages.
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto at = reinterpret_cast<std::uintptr_t>(p);
    const std::uintptr_t first = (at + page - 1) / page * page;
    const std::uintptr_t end = (at + bytes) / page * page;
    if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
#else
    (void)p;
    (void)bytes;
#endif
}

void host_install_interrupts(const char* (*at_once)())
{
    g_at_once = at_once;
    struct sigaction sa {};
    sa.sa_handler = on_signal;
    // No handler runs inside another: the first one ends the process.
    sa.sa_mask = ending_set();
    for (int sig = 1; sig < NSIG; ++sig) {
        struct sigaction old {};
        // A signal ignored by whoever started the run (nohup) stays ignored.
        if (!sigismember(&sa.sa_mask, sig) || sigaction(sig, nullptr, &old) != 0 ||
            old.sa_handler == SIG_IGN)
            continue;
        sigaction(sig, &sa, nullptr);
    }
    // A closed standard output and a file-size limit show as write errors
    // (EPIPE, EFBIG), which end the run through its usual failure path.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
    sigaction(SIGXFSZ, &ignore, nullptr);
}

bool host_interrupted() { return false; }

void host_hold_interrupts()
{
    const sigset_t set = ending_set();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void host_release_interrupts()
{
    const sigset_t set = ending_set();
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}
