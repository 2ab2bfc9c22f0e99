#include "support/run_program.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

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

Temp_dir::Temp_dir()
{
    std::string tmpl = (fs::temp_directory_path() / "rf_test_XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp");
    path = tmpl;
}

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
