// Fault injection: drives the built program through bad answers, bad files
// and a failing environment, and checks after each fault that it ended with a
// message and exit status 1 (or, where the run could go on, with a correct
// DEM), that no temporary file is left, and that an earlier DEM and header of
// the same names are still there byte for byte. Prints one line per fault
// that did not end as it should, then the summary.
#include "support/run_program.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int ND = -99999;
const std::string kEarlier_raster = "earlier DEM raster";
const std::string kEarlier_header = "earlier DEM header";

std::string le32(const std::vector<int>& values)
{
    std::string b;
    for (int v : values)
        for (int k = 0; k < 4; ++k)
            b.push_back(static_cast<char>((static_cast<unsigned>(v) >> (8 * k)) & 0xFF));
    return b;
}

// 12 lines x 40 columns, three contour lines, so that the run has dilation
// passes, gap filling and room for a smoothing mesh of 5.
std::string strip_raster()
{
    std::vector<int> g(12 * 40, ND);
    for (int j = 0; j < 40; ++j) {
        g[static_cast<std::size_t>(j)] = 100;
        g[static_cast<std::size_t>(5 * 40 + j)] = 150;
        g[static_cast<std::size_t>(11 * 40 + j)] = 200;
    }
    return le32(g);
}
const std::string kHeader = "12\n40\n4\n100\n200\n10\n";

// What a fault is run in: a home with images/maps/ holding the contour
// raster, its header (unless absent) and an earlier DEM.
struct Scene {
    Temp_dir home;
    std::string dir = home.path + "/images/maps/";
    explicit Scene(bool with_header = true, const std::string& raster = strip_raster(),
                   const std::string& header = kHeader)
    {
        write_file(dir + "strip_c4.raw", raster);
        if (with_header) write_file(dir + "strip_c4.txt", header);
        write_file(dir + "strip_m4.raw", kEarlier_raster);
        write_file(dir + "strip_m4.txt", kEarlier_header);
    }
    Program_run run(Run_options o) const
    {
        o.home = home.path;
        return run_program(RF_BINARY, {}, o);
    }
    Program_run run(const std::string& input) const
    {
        Run_options o;
        o.input = input;
        return run(o);
    }
    std::string dem() const { return read_file(dir + "strip_m4.raw"); }
    std::string dem_header() const { return read_file(dir + "strip_m4.txt"); }
    bool earlier_dem_kept() const
    {
        return dem() == kEarlier_raster && dem_header() == kEarlier_header;
    }
    bool temporary_left() const
    {
        for (const std::string& f : list_dir(dir))
            if (f.find(".tmp") != std::string::npos) return true;
        return false;
    }
};

struct Tally {
    int tried = 0;
    int good = 0;
    void record(const std::string& fault, const std::string& wrong)
    {
        ++tried;
        if (wrong.empty())
            ++good;
        else
            std::printf("FAULT NOT HANDLED: %s: %s\n", fault.c_str(), wrong.c_str());
    }
};

// The last line of a failed run must be one of the program's messages.
bool ends_with_message(const Program_run& r)
{
    return r.out.size() >= 3 && r.out.compare(r.out.size() - 2, 2, " \n") == 0;
}

// Checks a run that had to stop: status 1, a message, nothing left behind,
// the earlier DEM untouched.
std::string stopped_cleanly(const Scene& s, const Program_run& r)
{
    if (r.signal) return "ended by signal " + std::to_string(r.signal);
    if (r.status != 1) return "exit status " + std::to_string(r.status);
    if (!ends_with_message(r)) return "no closing message";
    if (s.temporary_left()) return "temporary file left";
    if (!s.earlier_dem_kept()) return "earlier DEM changed";
    return "";
}

// Checks a run that may either stop cleanly or complete: when it completes,
// its DEM must be `expected` (when given) and its header complete.
std::string stopped_or_correct(const Scene& s, const Program_run& r, const std::string& expected)
{
    if (r.status != 0) return stopped_cleanly(s, r);
    if (s.temporary_left()) return "temporary file left";
    if (!expected.empty() && s.dem() != expected) return "completed with a different DEM";
    if (s.dem().size() != 12u * 40u * 4u) return "completed with a DEM of the wrong size";
    if (s.dem_header().find("Size of the window smoothing") == std::string::npos)
        return "completed with an incomplete header";
    return "";
}

const std::string kAnswers = "maps\nstrip\n1\n0\n10\n5\n";
const std::string kAnswers_no_header = "maps\nstrip\n1\n12\n40\n10\n0\n10\n5\n";

std::string clean_dem()
{
    Scene s;
    const Program_run r = s.run(kAnswers);
    if (r.status != 0) {
        std::printf("the clean run failed:\n%s\n", r.out.c_str());
        std::exit(1);
    }
    return s.dem();
}

void end_of_input(Tally& t, const std::string& good)
{
    // Every byte prefix of the complete scripts, with and without a header.
    for (const bool with_header : {true, false}) {
        const std::string& script = with_header ? kAnswers : kAnswers_no_header;
        for (std::size_t n = 0; n < script.size(); ++n) {
            Scene s(with_header);
            const Program_run r = s.run(script.substr(0, n));
            // A prefix that ends inside the last answer still gives a whole
            // answer: the run then completes, with the DEM of that answer.
            std::string wrong = stopped_or_correct(s, r, n + 1 == script.size() ? good : "");
            if (wrong.empty() && !with_header && r.status != 0 &&
                fs::exists(s.dir + "strip_c4.txt") && read_file(s.dir + "strip_c4.txt").size() < 10)
                wrong = "a partial input header was left";
            t.record("end of input after " + std::to_string(n) + " bytes" +
                         (with_header ? "" : " (no header)"),
                     wrong);
        }
    }
}

void bad_number_answers(Tally& t, const std::string& good)
{
    // Question k of the script (0-based word index), and the values that it
    // refuses, after which the right answer follows.
    const std::vector<std::string> refused = {"text",        "",    "-",    "+", "2147483648",
                                              "-2147483649", "1.5", "12abc"};
    const std::vector<std::string> answers = {"maps", "strip", "1", "0", "10", "5"};
    for (std::size_t q : {2u, 3u, 4u, 5u}) {
        for (const std::string& bad : refused) {
            std::string in;
            for (std::size_t k = 0; k < answers.size(); ++k)
                in += (k == q ? bad + "\n" : "") + answers[k] + "\n";
            Scene s;
            const Program_run r = s.run(in);
            std::string wrong = r.status == 0 ? (s.dem() == good ? "" : "different DEM")
                                              : "exit status " + std::to_string(r.status);
            if (s.temporary_left()) wrong = "temporary file left";
            t.record("answer '" + bad + "' to question " + std::to_string(q), wrong);
        }
    }
    // Zero and negative values: refused where they make no sense (and the run
    // goes on with the next answer), taken as typed elsewhere.
    const std::vector<std::pair<std::size_t, std::string>> signed_values = {
        {2, "-1"}, {3, "-1"}, {3, "2"}, {4, "0"}, {4, "-10"}, {5, "0"}, {5, "-5"}, {5, "40"}};
    for (const auto& [q, bad] : signed_values) {
        std::string in;
        for (std::size_t k = 0; k < answers.size(); ++k)
            in += (k == q ? bad + "\n" : "") + answers[k] + "\n";
        Scene s;
        const Program_run r = s.run(in);
        // Taken as typed, the answers shift: the run may write another DEM
        // or stop, but never half-way.
        std::string wrong = r.status == 0 ? "" : stopped_cleanly(s, r);
        if (s.temporary_left()) wrong = "temporary file left";
        t.record("answer '" + bad + "' to question " + std::to_string(q), wrong);
    }
    for (const std::string bad : {"0", "-3"}) {
        Scene s(false);
        const Program_run r =
            s.run("maps\nstrip\n1\n" + bad + "\n12\n" + bad + "\n40\n10\n0\n10\n5\n");
        t.record("geometry answer " + bad, r.status == 0 && s.dem() == good ? "" : "not refused");
    }
}

void write_failures(Tally& t, const std::string& good)
{
    // File-size limits that cut each output at several places.
    const long long sizes[] = {0, 1, 5, 9, 10, 40, 100, 120, 150, 200, 1000, 1919, 1920, 4096};
    for (const bool with_header : {true, false})
        for (long long limit : sizes) {
            Scene s(with_header);
            Run_options o;
            o.input = with_header ? kAnswers : kAnswers_no_header;
            o.file_size_limit = limit;
            const Program_run r = s.run(o);
            std::string wrong = stopped_or_correct(s, r, good);
            // The message names the final file that could not be written, and why.
            const bool named = r.out.find("\n\n\tCannot write the file " + s.dir + "strip_") !=
                                   std::string::npos &&
                               r.out.find(" : File too large \n") != std::string::npos;
            if (wrong.empty() && r.status == 1 && !named) wrong = "no write error reported";
            t.record("file size limit " + std::to_string(limit) +
                         (with_header ? "" : " (no header)"),
                     wrong);
        }

    Scene s;
    const bool root = geteuid() == 0;
    const std::string lock = root ? "chattr +i '" + s.dir + "'" : "chmod a-w '" + s.dir + "'";
    const std::string unlock = root ? "chattr -i '" + s.dir + "'" : "chmod u+w '" + s.dir + "'";
    if (std::system((lock + " 2>/dev/null").c_str()) == 0) {
        const Program_run r = s.run(kAnswers);
        std::system(unlock.c_str());
        t.record("unwritable folder", stopped_cleanly(s, r));
    }
}

void bad_files(Tally& t, const std::string& good)
{
    const std::string raster = strip_raster();
    for (std::size_t keep : {0u, 1u, 4u, 959u, 1919u}) {
        Scene s(true, raster.substr(0, keep));
        t.record("raster of " + std::to_string(keep) + " bytes",
                 stopped_cleanly(s, s.run(kAnswers)));
    }
    {
        Scene s(true, raster + std::string(100, 'x'));
        const Program_run r = s.run(kAnswers);
        t.record("raster longer than its header",
                 r.status == 0 && s.dem() == good ? "" : "not read as its header says");
    }
    const struct {
        const char* name;
        std::string text;
        bool asks_pixel_size;
    } headers[] = {
        {"header with 0 values", "", false},
        {"header with 3 values", "12 40 4", true},
        {"header with 5 values", "12 40 4 100 200", true},
        {"header with 7 values", "12 40 4 100 200 10 77", false},
        {"header with CR LF", "12\r\n40\r\n4\r\n100\r\n200\r\n10\r\n", false},
        {"header with text", "twelve 40 4 100 200 10", false},
        {"header with zero lines", "0 40 4 100 200 10", false},
        {"header with huge numbers", "99999999999 40 4 100 200 10", false},
    };
    for (const auto& h : headers) {
        Scene s(true, raster, h.text);
        // Headers without a pixel size get the question; answer it.
        const Program_run r =
            s.run(h.asks_pixel_size ? "maps\nstrip\n1\n10\n0\n10\n5\n" : kAnswers);
        t.record(h.name, stopped_or_correct(s, r, good));
    }
#if !defined(__SANITIZE_ADDRESS__)
    // Address-space limits cannot be combined with AddressSanitizer's shadow
    // memory: this fault is tried in the plain build only.
    {
        // A grid that cannot be allocated: a sparse raster of the full size
        // and an address-space limit for the child.
        Scene s(true, "", "40000 40000 4 0 0 10");
        truncate((s.dir + "strip_c4.raw").c_str(), 40000LL * 40000 * 4);
        Run_options o;
        o.input = kAnswers;
        o.memory_limit = 2LL << 30;
        const Program_run r = s.run(o);
        std::string wrong = stopped_cleanly(s, r);
        if (wrong.empty() && r.out.find("Not enough memory") == std::string::npos)
            wrong = "no memory message";
        t.record("40000 x 40000 grid", wrong);
    }
#endif
    {
        // A grid beyond what the stages can index, refused before allocation.
        Scene s(true, "", "100000 100000 4 0 0 10");
        truncate((s.dir + "strip_c4.raw").c_str(), 100000LL * 100000 * 4);
        Run_options o;
        o.input = kAnswers;
#if !defined(__SANITIZE_ADDRESS__)
        // Should it be allocated after all, it fails instead of taking the machine.
        o.memory_limit = 2LL << 30;
#endif
        const Program_run r = s.run(o);
        std::string wrong = stopped_cleanly(s, r);
        if (wrong.empty() && r.out.find("larger than this program can index") == std::string::npos)
            wrong = "no limit message";
        t.record("100000 x 100000 grid", wrong);
    }
    {
        Scene s(true, raster, std::string(65532, ' ') + "12 40 4 100 200 10");
        // Read as 12 lines of 4 columns without a pixel size, these answers
        // would let the run complete.
        t.record("header past the read limit",
                 stopped_cleanly(s, s.run("maps\nstrip\n1\n10\n0\n10\n3\n")));
    }
    {
        // A result name cut at a NUL would name the contour raster.
        Scene s;
        const Program_run r = s.run("maps\nstrip\n1\n1\n" + std::string("strip_c4.raw\0\n", 14));
        std::string wrong = stopped_cleanly(s, r);
        if (wrong.empty() && read_file(s.dir + "strip_c4.raw") != raster) wrong = "raster changed";
        t.record("result name holding a NUL", wrong);
    }
}

void signal_faults(Tally& t, const std::string& big, const std::string& big_header);

void interrupts(Tally& t)
{
    // A raster large enough for the stages to take a while.
    Temp_dir gen;
    const std::string cmd = std::string(RF_GENERATOR) + " --lines 1500 --cols 1500 --out '" +
                            gen.path + "/big' >/dev/null";
    if (std::system(cmd.c_str()) != 0) {
        t.record("generate a large raster", "contour_gen failed");
        return;
    }
    const std::string big = read_file(gen.path + "/big_c4.raw");
    const std::string big_header = read_file(gen.path + "/big_c4.txt");
    const struct {
        const char* stage;
        const char* seen;
    } moments[] = {{"dilation", "Iterative process number 2 "},
                   {"smoothing", "Size of the window smoothing"}};
    for (const auto& m : moments)
        for (int sig : {SIGINT, SIGTERM}) {
            Scene s(true, big, big_header);
            Run_options o;
            o.input = "maps\nstrip\n1\n0\n10\n5\n";
            o.signal_after = m.seen;
            o.signal_to_send = sig;
            const Program_run r = s.run(o);
            std::string wrong;
            if (r.status == 0) {
                if (s.temporary_left() || s.dem().size() != 1500u * 1500u * 4u)
                    wrong = "completed without a complete DEM";
            } else {
                wrong = stopped_cleanly(s, r);
                if (wrong.empty() && r.out.find("Interrupted") == std::string::npos)
                    wrong = "no interruption message";
            }
            const std::string name =
                std::string(sig == SIGINT ? "SIGINT" : "SIGTERM") + " during the " + m.stage;
            t.record(name, wrong);
            std::printf("%s: %s\n", name.c_str(),
                        r.status == 0 ? "the run had completed" : "the run stopped");
        }
    signal_faults(t, big, big_header);
}

// The DEM pair is replaced whole or not at all.
void commit_faults(Tally& t)
{
    // The raster's rename fails: a folder holds its name.
    for (const bool earlier_header : {true, false}) {
        Scene s;
        fs::remove(s.dir + "strip_m4.raw");
        fs::create_directory(s.dir + "strip_m4.raw");
        if (!earlier_header) fs::remove(s.dir + "strip_m4.txt");
        const Program_run r = s.run(kAnswers);
        std::string wrong;
        if (r.status != 1 || r.out.find("strip_m4.raw : Is a directory \n") == std::string::npos)
            wrong = "no write error reported";
        else if (s.temporary_left())
            wrong = "temporary file left";
        else if (earlier_header ? s.dem_header() != kEarlier_header
                                : fs::exists(s.dir + "strip_m4.txt"))
            wrong = "a new header stands beside the earlier raster";
        t.record(std::string("raster rename fails") +
                     (earlier_header ? "" : " (no earlier header)"),
                 wrong);
    }

    // Runs that publish the same DEM at once, two pairs at a time, with
    // meshes of nearly the same cost: every final pair is one run's.
    const std::string meshes[2] = {"4", "5"};
    std::string solo[2];
    for (int k = 0; k < 2; ++k) {
        Scene s;
        s.run("maps\nstrip\n1\n0\n10\n" + meshes[k] + "\n");
        solo[k] = s.dem();
    }
    if (solo[0] == solo[1]) {
        t.record("concurrent runs", "the two meshes give the same DEM: nothing to tell apart");
        return;
    }
    int mixed = 0;
    for (int round = 0; round < 10; ++round) {
        Scene s;
        write_file(s.dir + "a.in", "maps\nstrip\n1\n0\n10\n4\n");
        write_file(s.dir + "b.in", "maps\nstrip\n1\n0\n10\n5\n");
        const std::string rf = std::string(RF_BINARY);
        const std::string cmd = "cd '" + s.dir + "' && HOME='" + s.home.path +
                                "' && export HOME && (" + rf + " <a.in >/dev/null & " + rf +
                                " <b.in >/dev/null & " + rf + " <a.in >/dev/null & " + rf +
                                " <b.in >/dev/null & wait)";
        std::system(cmd.c_str());
        const bool smoothed = s.dem_header().find("smoothing : 5 ") != std::string::npos;
        if (s.dem() != solo[smoothed ? 1 : 0] || s.temporary_left()) ++mixed;
    }
    t.record("10 rounds of 4 concurrent runs",
             mixed ? std::to_string(mixed) + " ended with a mixed DEM pair" : "");
}

// An interrupt that lands about the commit: the run either kept the earlier
// DEM and says so, or wrote the whole new one and says that.
void interrupt_at_commit(Tally& t, const std::string& good)
{
    int before = 0, after = 0;
    std::string wrong;
    for (int k = 0; k < 20 && wrong.empty(); ++k) {
        Scene s;
        Run_options o;
        o.input = kAnswers;
        o.signal_after = "Min = ";
        o.signal_to_send = SIGINT;
        const Program_run r = s.run(o);
        if (s.temporary_left()) wrong = "temporary file left";
        if (r.status == 0) continue;
        if (r.out.find("no result was written") != std::string::npos) {
            ++before;
            if (!s.earlier_dem_kept()) wrong = "said no result was written, yet wrote";
        } else if (r.out.find("strip_m4.raw was written") != std::string::npos) {
            ++after;
            if (s.dem() != good || s.dem_header().find("smoothing : 5 ") == std::string::npos)
                wrong = "said the DEM was written, yet it is not the whole new pair";
        } else {
            wrong = "no interruption message";
        }
    }
    t.record("SIGINT at the commit", wrong);
    std::printf("SIGINT at the commit: %d stopped before it, %d after it\n", before, after);
}

// Signals a shell user meets: a closed pipe on standard output, and Ctrl-C
// while the program waits for a key on a terminal.
void signal_faults(Tally& t, const std::string& big, const std::string& big_header)
{
    {
        // `relief_forge | head`: the reader goes away during the dilation.
        Scene s(true, big, big_header);
        Run_options o;
        o.input = kAnswers;
        o.signal_after = "Iterative process number 2 ";
        o.close_output = true;
        const Program_run r = s.run(o);
        std::string wrong = r.signal ? "ended by signal " + std::to_string(r.signal) : "";
        if (wrong.empty() && r.status != 1) wrong = "exit status " + std::to_string(r.status);
        if (wrong.empty() && r.err.find("Interrupted : no result was written") == std::string::npos)
            wrong = "no message on the error output";
        if (s.temporary_left()) wrong = "temporary file left";
        if (!s.earlier_dem_kept()) wrong = "earlier DEM changed";
        t.record("standard output closed during the run", wrong);
    }

    // Other signals that end a process by default clean up the same way.
    for (int sig : {SIGQUIT, SIGUSR1, SIGALRM}) {
        Scene s(true, big, big_header);
        Run_options o;
        o.input = kAnswers;
        o.signal_after = "Iterative process number 2 ";
        o.signal_to_send = sig;
        const Program_run r = s.run(o);
        std::string wrong = r.status == 0 ? "" : stopped_cleanly(s, r);
        if (r.status == 0 && s.temporary_left()) wrong = "temporary file left";
        t.record("signal " + std::to_string(sig) + " during the dilation", wrong);
    }
    {
        // A hang-up ignored by whoever started the run (nohup) stays ignored.
        Scene s(true, big, big_header);
        Run_options o;
        o.home = s.home.path;
        o.input = kAnswers;
        o.signal_after = "Iterative process number 2 ";
        o.signal_to_send = SIGHUP;
        const Program_run r =
            run_program("/bin/sh", {"-c", std::string("trap '' HUP; exec '") + RF_BINARY + "'"}, o);
        t.record("SIGHUP under nohup",
                 r.status == 0 && !s.temporary_left() && s.dem().size() == 1500u * 1500u * 4u
                     ? ""
                     : "the run did not go on to its DEM");
    }

    // The raster is missing: the program waits for a key in raw mode.
    Temp_dir home;
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        t.record("Ctrl-C during the key wait", "no pseudo-terminal");
        return;
    }
    const std::string slave_name = ptsname(master);
    const pid_t pid = fork();
    if (pid == 0) {
        setsid();
        const int slave = open(slave_name.c_str(), O_RDWR);
        dup2(slave, 0);
        dup2(slave, 1);
        dup2(slave, 2);
        for (int sig = 1; sig < NSIG; ++sig) signal(sig, SIG_DFL);
        setenv("HOME", home.path.c_str(), 1);
        execl(RF_BINARY, RF_BINARY, static_cast<char*>(nullptr));
        _exit(127);
    }
    const int slave = open(slave_name.c_str(), O_RDWR | O_NOCTTY);
    const std::string answers = "maps\nnone\n1\n";
    if (write(master, answers.data(), answers.size()) < 0) {
    }
    // Drain the terminal until the wait has switched echo off.
    termios tio{};
    bool raw = false;
    for (int k = 0; k < 500 && !raw; ++k) {
        char buf[4096];
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, 10) > 0 && read(master, buf, sizeof buf) < 0) break;
        raw = tcgetattr(slave, &tio) == 0 && !(tio.c_lflag & ECHO);
    }
    kill(pid, SIGINT);
    int wstatus = 0;
    bool ended = false;
    for (int k = 0; k < 1000 && !ended; ++k) {
        char buf[4096];
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, 10) > 0 && read(master, buf, sizeof buf) < 0) break;
        ended = waitpid(pid, &wstatus, WNOHANG) == pid;
    }
    if (!ended) {
        kill(pid, SIGKILL);
        waitpid(pid, &wstatus, 0);
    }
    tcgetattr(slave, &tio);
    close(slave);
    close(master);
    std::string wrong;
    if (!raw)
        wrong = "the wait never switched the terminal to raw mode";
    else if (!ended)
        wrong = "SIGINT did not end the key wait";
    else if (!(tio.c_lflag & ECHO) || !(tio.c_lflag & ICANON))
        wrong = "terminal left without echo or line mode";
    t.record("Ctrl-C during the key wait", wrong);
}

#ifdef RF_GIS_BINARY
// The GIS tool: bad contour files, a failing output and interrupts. Each
// must end with a message on standard error and exit status 1, no temporary
// file, and an earlier GeoTIFF of the same name as it was.
void gis_faults(Tally& t)
{
    const std::string sample_path =
        std::string(RF_SOURCE_DIR) + "/data/sample_vector/hills_contours.geojson";
    const std::string sample = read_file(sample_path);
    Temp_dir d;
    const std::string dir = d.path + "/";
    std::string half = sample;
    // No power of ten up to a million makes it whole.
    half.replace(half.find("\"ELEV\": 180.0"), 14, "\"ELEV\": 180.1234567 ");
    write_file(dir + "half.geojson", half);
    write_file(dir + "empty.geojson",
               "{\"type\": \"FeatureCollection\", \"name\": \"nothing\", \"features\": []}\n");
    // A raster that GDAL reads but that has no place on the ground.
    write_file(dir + "plain.pgm", std::string("P5\n4 3\n255\n") + std::string(12, '\x64'));
    const std::string earlier = "earlier GeoTIFF";
    const std::string out = dir + "out/dem.tif";

    const auto run_gis = [&](std::vector<std::string> args, Run_options o) {
        write_file(out, earlier);
        const Program_run r = run_program(RF_GIS_BINARY, args, o);
        std::string wrong;
        if (r.signal)
            wrong = "ended by signal " + std::to_string(r.signal);
        else if (r.status != 1)
            wrong = "exit status " + std::to_string(r.status);
        else if (r.err.find("relief_forge_gis") == std::string::npos)
            wrong = "no message on standard error";
        for (const std::string& f : list_dir(dir + "out"))
            if (f.find(".tmp") != std::string::npos || f.find(".rf-") != std::string::npos)
                wrong = "temporary file left";
        if (read_file(out) != earlier) wrong = "earlier GeoTIFF changed";
        return wrong;
    };
    const std::vector<std::string> grid = {"--cell", "25", "-e", "10", "--out", out};
    const auto with = [&](std::vector<std::string> head) {
        head.insert(head.end(), grid.begin(), grid.end());
        return head;
    };
    const struct {
        const char* name;
        std::vector<std::string> args;
    } cases[] = {
        {"gis: missing contour file", with({"build", dir + "none.gpkg"})},
        {"gis: layer without the attribute", with({"build", sample_path, "-a", "HOEHE"})},
        {"gis: empty layer", with({"build", dir + "empty.geojson"})},
        {"gis: elevation with more than six decimals", with({"build", dir + "half.geojson"})},
        {"gis: raster without georeferencing",
         {"build", dir + "plain.pgm", "-e", "10", "--out", out}},
        {"gis: unknown option", with({"build", sample_path, "--frobnicate"})},
        {"gis: equidistance zero", {"build", sample_path, "--cell", "25", "-e", "0", "--out", out}},
    };
    for (const auto& c : cases) t.record(c.name, run_gis(c.args, Run_options{}));

    for (long long limit : {0LL, 100LL, 10000LL}) {
        Run_options o;
        o.file_size_limit = limit;
        t.record("gis: file size limit " + std::to_string(limit),
                 run_gis(with({"build", sample_path, "-q"}), o));
    }
    for (int sig : {SIGINT, SIGTERM}) {
        Run_options o;
        o.signal_after = "dilation: pass";
        o.signal_to_send = sig;
        // Fine cells make the run long enough to be interrupted.
        const std::string wrong =
            run_gis({"build", sample_path, "--cell", "5", "-e", "10", "-s", "5", "--out", out}, o);
        t.record(std::string("gis: ") + (sig == SIGINT ? "SIGINT" : "SIGTERM") + " during a build",
                 wrong);
    }
}
#endif

} // namespace

int main()
{
    Tally t;
    const std::string good = clean_dem();
    end_of_input(t, good);
    bad_number_answers(t, good);
    write_failures(t, good);
    bad_files(t, good);
    interrupts(t);
    commit_faults(t);
    interrupt_at_commit(t, good);
#ifdef RF_GIS_BINARY
    gis_faults(t);
#endif
    std::printf("fault injection: %d faults and bad inputs tried, %d ended as they should with "
                "nothing lost\n",
                t.tried, t.good);
    std::printf("%d passed, %d failed\n", t.good, t.tried - t.good);
    return t.good == t.tried ? 0 : 1;
}
