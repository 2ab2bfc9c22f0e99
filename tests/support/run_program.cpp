#include "support/run_program.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#ifdef _WIN32
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <windows.h>
#else
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

#ifdef _WIN32

namespace {

// One argument as the child's C runtime splits its command line: quoted, with
// the backslashes before a quote doubled.
std::string quoted(const std::string& arg)
{
    std::string q = "\"";
    std::size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        q.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        q.push_back(c);
    }
    q.append(2 * backslashes, '\\');
    return q + "\"";
}

// A Ctrl-C event reaches only processes attached to the sender's console;
// under Wine without a terminal the test has none, so it takes one of its own
// once, keeping its standard handles.
void attach_a_console()
{
    static std::once_flag once;
    std::call_once(once, [] {
        const DWORD ids[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
        HANDLE saved[3];
        for (int k = 0; k < 3; ++k) saved[k] = GetStdHandle(ids[k]);
        FreeConsole();
        AllocConsole();
        for (int k = 0; k < 3; ++k) SetStdHandle(ids[k], saved[k]);
    });
}

// What the child printed so far on both pipes, filled by one reader thread per pipe.
struct Capture {
    std::mutex m;
    std::condition_variable changed;
    std::string out, err;
    int open = 2;
};

void drain(HANDLE pipe, std::string Capture::*into, Capture& c)
{
    char buf[65536];
    DWORD n = 0;
    while (ReadFile(pipe, buf, sizeof buf, &n, nullptr) && n > 0) {
        std::lock_guard<std::mutex> lock(c.m);
        (c.*into).append(buf, n);
        c.changed.notify_all();
    }
    std::lock_guard<std::mutex> lock(c.m);
    --c.open;
    c.changed.notify_all();
}

std::string without_cr_before_lf(const std::string& text)
{
    std::string s;
    for (std::size_t k = 0; k < text.size(); ++k)
        if (!(text[k] == '\r' && k + 1 < text.size() && text[k + 1] == '\n')) s.push_back(text[k]);
    return s;
}

} // namespace

Program_run run_program(const std::string& binary, const std::vector<std::string>& args,
                        const Run_options& options)
{
    if (options.file_size_limit >= 0 || options.memory_limit >= 0 || options.close_output)
        throw std::runtime_error("resource limits and closed outputs are not available on Windows");
    const bool interrupt = !options.signal_after.empty() && options.signal_to_send;
    if (interrupt) attach_a_console();

    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE in_read, in_write, out_read, out_write, err_read, err_write;
    // The answers fit the input pipe's buffer, so that writing them never
    // waits for a child that stopped reading.
    const DWORD in_size = static_cast<DWORD>(options.input.size() + 4096);
    if (!CreatePipe(&in_read, &in_write, &inherit, in_size) ||
        !CreatePipe(&out_read, &out_write, &inherit, 0) ||
        !CreatePipe(&err_read, &err_write, &inherit, 0))
        throw std::runtime_error("CreatePipe");
    for (HANDLE own : {in_write, out_read, err_read})
        SetHandleInformation(own, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in_read;
    si.hStdOutput = out_write;
    si.hStdError = err_write;
    std::string command = quoted(binary);
    for (const std::string& a : args) command += " " + quoted(a);
    PROCESS_INFORMATION pi{};
    // Its own process group, so that a Ctrl-C event can be sent to it alone.
    const DWORD flags = interrupt ? CREATE_NEW_PROCESS_GROUP : 0;
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                        &si, &pi))
        throw std::runtime_error("CreateProcess " + binary);
    for (HANDLE childs : {in_read, out_write, err_write}) CloseHandle(childs);

    Capture c;
    std::thread out_reader(drain, out_read, &Capture::out, std::ref(c));
    std::thread err_reader(drain, err_read, &Capture::err, std::ref(c));
    DWORD written = 0;
    if (!options.input.empty())
        WriteFile(in_write, options.input.data(), static_cast<DWORD>(options.input.size()),
                  &written, nullptr);
    if (!options.signal_after.empty()) {
        std::unique_lock<std::mutex> lock(c.m);
        c.changed.wait(lock, [&] {
            return c.open == 0 || c.out.find(options.signal_after) != std::string::npos ||
                   c.err.find(options.signal_after) != std::string::npos;
        });
        // The input stays open after the event, as a console's would: the
        // child must end by itself (closed after a minute all the same, so
        // that a child that ignores the event fails the test instead of hanging it).
        if (c.open > 0 && interrupt && GenerateConsoleCtrlEvent(CTRL_C_EVENT, pi.dwProcessId)) {
            lock.unlock();
            WaitForSingleObject(pi.hProcess, 60000);
        }
    }
    CloseHandle(in_write);
    out_reader.join();
    err_reader.join();
    CloseHandle(out_read);
    CloseHandle(err_read);
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);

    Program_run r;
    r.out = without_cr_before_lf(c.out);
    r.err = without_cr_before_lf(c.err);
    r.status = static_cast<int>(code);
    return r;
}

Temp_dir::Temp_dir(const std::string& parent)
{
    static std::atomic<int> counter{0};
    const fs::path where = parent.empty() ? fs::temp_directory_path() : fs::path(parent);
    fs::create_directories(where);
    for (;;) {
        const fs::path p = where / ("rf_test_" + std::to_string(GetCurrentProcessId()) + "_" +
                                    std::to_string(counter++));
        if (fs::create_directory(p)) {
            path = p.string();
            return;
        }
    }
}

#else

namespace {

void set_limit(int resource, long long bytes)
{
    if (bytes < 0) return;
    rlimit lim{static_cast<rlim_t>(bytes), static_cast<rlim_t>(bytes)};
    setrlimit(resource, &lim);
}

} // namespace

Program_run run_program(const std::string& binary, const std::vector<std::string>& args,
                        const Run_options& options)
{
    int in_pipe[2], out_pipe[2], err_pipe[2];
    if (pipe(in_pipe) || pipe(out_pipe) || pipe(err_pipe)) throw std::runtime_error("pipe");
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork");
    if (pid == 0) {
        dup2(in_pipe[0], 0);
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]})
            close(fd);
        if (options.unset_home)
            unsetenv("HOME");
        else
            setenv("HOME", options.home.c_str(), 1);
        for (int sig = 1; sig < NSIG; ++sig) signal(sig, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        set_limit(RLIMIT_FSIZE, options.file_size_limit);
        set_limit(RLIMIT_AS, options.memory_limit);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(binary.c_str()));
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(binary.c_str(), argv.data());
        _exit(127);
    }
    close(in_pipe[0]);
    close(out_pipe[1]);
    close(err_pipe[1]);

    // The answers fit the pipe's buffer; a child that stops reading early
    // must not block the test, so a broken pipe is ignored.
    signal(SIGPIPE, SIG_IGN);
    std::size_t written = 0;
    while (written < options.input.size()) {
        const ssize_t n =
            write(in_pipe[1], options.input.data() + written, options.input.size() - written);
        if (n <= 0) break;
        written += static_cast<std::size_t>(n);
    }
    bool in_open = true;
    if (options.signal_after.empty()) {
        close(in_pipe[1]);
        in_open = false;
    }

    Program_run r;
    bool out_open = true, err_open = true;
    bool signalled = false;
    while (out_open || err_open) {
        pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 && errno != EINTR) break;
        char buf[65536];
        for (int k = 0; k < 2; ++k) {
            if (!(fds[k].revents & (POLLIN | POLLHUP))) continue;
            const ssize_t n = read(fds[k].fd, buf, sizeof buf);
            if (n <= 0) {
                (k == 0 ? out_open : err_open) = false;
                continue;
            }
            (k == 0 ? r.out : r.err).append(buf, static_cast<std::size_t>(n));
        }
        if (in_open && !signalled &&
            (r.out.find(options.signal_after) != std::string::npos ||
             r.err.find(options.signal_after) != std::string::npos)) {
            if (options.signal_to_send) kill(pid, options.signal_to_send);
            if (options.close_output) {
                close(out_pipe[0]);
                out_pipe[0] = -1;
                out_open = false;
            }
            signalled = true;
            close(in_pipe[1]);
            in_open = false;
        }
    }
    if (in_open) close(in_pipe[1]);
    if (out_pipe[0] >= 0) close(out_pipe[0]);
    close(err_pipe[0]);
    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(wstatus)) r.status = WEXITSTATUS(wstatus);
    if (WIFSIGNALED(wstatus)) r.signal = WTERMSIG(wstatus);
    return r;
}

Temp_dir::Temp_dir(const std::string& parent)
{
    const fs::path where = parent.empty() ? fs::temp_directory_path() : fs::path(parent);
    fs::create_directories(where);
    std::string tmpl = (where / "rf_test_XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp");
    path = tmpl;
}

#endif

Temp_dir::~Temp_dir()
{
    std::error_code ec;
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ec);
    for (const auto& e : fs::recursive_directory_iterator(path, ec))
        if (e.is_directory())
            fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path, ec);
}

std::string read_file(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

void write_file(const std::string& path, const std::string& bytes)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool file_exists(const std::string& path) { return fs::exists(path); }

std::vector<std::string> list_dir(const std::string& path)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(path))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string host_text(const std::string& text)
{
#ifdef _WIN32
    std::string s;
    for (char c : text) {
        if (c == '\n') s.push_back('\r');
        s.push_back(c);
    }
    return s;
#else
    return text;
#endif
}
