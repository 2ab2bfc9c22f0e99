// Fault injection against relief_forge_gis and the QGIS plugin's run of it,
// each started under the default signal dispositions with nothing blocked,
// as a shell starts a program. Every fault must end with status 1 and the
// tool's message (or, for a fault signal, by that signal once the files are
// cleaned), no temporary file of the tool or of GDAL, and the earlier DEM
// and preview of the same names as they were; a run that completes must
// leave a whole, consistent set. Prints one line per fault that did not end
// so, then the summary.
#include "support/run_program.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const std::string kSample =
    std::string(RF_SOURCE_DIR) + "/data/sample_vector/hills_contours.geojson";
const std::string kEarlier_dem = "earlier DEM";
// Cells fine enough for each stage to take a while; the sanitizers slow
// every stage down, so coarser ones do there.
#if defined(__SANITIZE_ADDRESS__)
const std::string kFine = "8", kFiner = "8";
#else
const std::string kFine = "4", kFiner = "3";
#endif
const std::string kEarlier_preview = "earlier preview";

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
        std::fflush(stdout);
    }
};

// A folder holding an earlier DEM and preview, and what a run left in it.
struct Outputs {
    Temp_dir d;
    std::string dem = d.path + "/dem.tif";
    std::string png = d.path + "/dem.png";
    Outputs()
    {
        write_file(dem, kEarlier_dem);
        write_file(png, kEarlier_preview);
    }
    std::string leftover() const
    {
        for (const std::string& f : list_dir(d.path))
            if (f != "dem.tif" && f != "dem.png") return "left " + f;
        return "";
    }
    bool earlier_kept() const
    {
        return read_file(dem) == kEarlier_dem && read_file(png) == kEarlier_preview;
    }
};

std::string signal_name(int sig)
{
    if (sig >= SIGRTMIN) return "SIGRTMIN+" + std::to_string(sig - SIGRTMIN);
    const char* abbrev = sigabbrev_np(sig);
    return abbrev ? std::string("SIG") + abbrev : "signal " + std::to_string(sig);
}

bool is_fault_signal(int sig)
{
    return sig == SIGSEGV || sig == SIGBUS || sig == SIGILL || sig == SIGFPE;
}

// What is wrong with a run that had to stop before its commit.
std::string stopped_cleanly(const Outputs& o, const Program_run& r, int sent = 0)
{
    std::string wrong;
    if (r.signal && !(r.signal == sent && is_fault_signal(sent)))
        wrong = "ended by signal " + std::to_string(r.signal);
    else if (!r.signal && r.status != 1)
        wrong = "exit status " + std::to_string(r.status);
    else if (r.err.find("relief_forge_gis: ") == std::string::npos ||
             r.err.find("no file was written") == std::string::npos)
        wrong = "no message saying nothing was written";
    if (const std::string left = o.leftover(); !left.empty()) wrong = left;
    if (!o.earlier_kept()) wrong = "earlier DEM or preview changed";
    return wrong;
}

// What is wrong with a run that may have completed or stopped.
std::string stopped_or_whole(const Outputs& o, const Program_run& r, int sent = 0)
{
    // An interrupt that came after the commit says what was written.
    const bool committed =
        r.status == 0 || r.err.find("interrupted after it wrote") != std::string::npos;
    if (!committed) return stopped_cleanly(o, r, sent);
    if (const std::string left = o.leftover(); !left.empty()) return left;
    if (read_file(o.dem) == kEarlier_dem || read_file(o.png) == kEarlier_preview)
        return "completed with a mixed pair";
    return "";
}

std::vector<std::string> build_args(const Outputs& o, const std::string& cell, bool cog)
{
    std::vector<std::string> a = {"build", kSample, "--cell", cell,  "-e",        "10",
                                  "-s",    "5",     "--out",  o.dem, "--preview", o.png};
    if (cog) a.insert(a.end(), {"--format", "COG"});
    return a;
}

// Runs the tool under default dispositions and sends `sig` once a file whose
// name holds `mark` appears in `dir`; false in `seen` when none appeared.
Program_run signal_when_file(const std::vector<std::string>& args, const std::string& dir,
                             const std::string& mark, int sig, bool& seen)
{
    Temp_dir logs;
    const std::string err_path = logs.path + "/stderr";
    const pid_t pid = fork();
    if (pid == 0) {
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int s = 1; s < NSIG; ++s) signal(s, SIG_DFL);
        const int fd = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, 2);
        std::vector<char*> argv{const_cast<char*>(RF_GIS_BINARY)};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(RF_GIS_BINARY, argv.data());
        _exit(127);
    }
    seen = false;
    int wstatus = 0;
    bool ended = false;
    while (!seen && !ended) {
        for (const std::string& f : list_dir(dir))
            if (f.find(mark) != std::string::npos) seen = true;
        if (seen) kill(pid, sig);
        ended = !seen && waitpid(pid, &wstatus, WNOHANG) == pid;
        if (!seen && !ended) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (!ended) waitpid(pid, &wstatus, 0);
    Program_run r;
    r.err = read_file(err_path);
    if (WIFEXITED(wstatus)) r.status = WEXITSTATUS(wstatus);
    if (WIFSIGNALED(wstatus)) r.signal = WTERMSIG(wstatus);
    return r;
}

// Every signal that ends a process by default, during the dilation.
void every_signal(Tally& t)
{
    std::vector<int> signals = {SIGINT,    SIGTERM,  SIGHUP,       SIGQUIT, SIGALRM,
                                SIGUSR1,   SIGUSR2,  SIGVTALRM,    SIGPROF, SIGXCPU,
                                SIGABRT,   SIGTRAP,  SIGSYS,       SIGIO,   SIGPWR,
                                SIGSTKFLT, SIGRTMIN, SIGRTMIN + 5, SIGRTMAX};
#if !defined(__SANITIZE_ADDRESS__)
    // The sanitizers keep the fault signals for their reports.
    signals.insert(signals.end(), {SIGSEGV, SIGBUS, SIGILL, SIGFPE});
#endif
    for (int sig : signals) {
        Outputs o;
        Run_options opt;
        opt.signal_after = "dilation: pass";
        opt.signal_to_send = sig;
        const Program_run r = run_program(RF_GIS_BINARY, build_args(o, kFine, false), opt);
        t.record("gis: " + signal_name(sig) + " during the dilation", stopped_cleanly(o, r, sig));
    }
}

// An interrupt in each stage of the output path: the DEM being written, the
// COG's overviews, the preview after the DEM is complete; and import's files.
void each_stage(Tally& t)
{
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGQUIT, SIGALRM}) {
        const struct {
            const char* stage;
            bool cog;
            const char* text;
            const char* file;
        } stages[] = {
            {"GeoTIFF writing", false, "writing: 0", nullptr},
            {"COG drawing", true, "writing: 0", nullptr},
            {"COG overviews", true, nullptr, ".ovr.tmp"},
            {"preview, DEM complete", false, "preview:", nullptr},
        };
        for (const auto& s : stages) {
            Outputs o;
            Program_run r;
            std::string wrong;
            if (s.text) {
                Run_options opt;
                opt.signal_after = s.text;
                opt.signal_to_send = sig;
                r = run_program(RF_GIS_BINARY, build_args(o, kFiner, s.cog), opt);
            } else {
                bool seen = false;
                r = signal_when_file(build_args(o, kFiner, s.cog), o.d.path, s.file, sig, seen);
                if (!seen) wrong = "never reached the stage";
            }
            if (wrong.empty()) wrong = stopped_or_whole(o, r, sig);
            t.record("gis: " + signal_name(sig) + " in " + s.stage, wrong);
        }
    }
    // Import: the raster, header and virtual raster stay one run's set.
    for (const char* mark : {"_c4.raw.", "_c4.txt.", "_c4.vrt."}) {
        Temp_dir d;
        const std::string base = d.path + "/m";
        for (const char* ext : {"_c4.raw", "_c4.txt", "_c4.vrt"}) write_file(base + ext, ext);
        bool seen = false;
        const Program_run r = signal_when_file({"import", kSample, "--cell", "2", "--out", base},
                                               d.path, mark, SIGINT, seen);
        std::string wrong = seen ? "" : "never reached the file";
        if (r.status != 1 || r.err.find("no file was written") == std::string::npos)
            wrong = "exit status " + std::to_string(r.status) + ": " + r.err;
        for (const char* ext : {"_c4.raw", "_c4.txt", "_c4.vrt"})
            if (read_file(base + ext) != ext) wrong = std::string("earlier ") + ext + " changed";
        if (list_dir(d.path).size() != 3) wrong = "files left";
        t.record(std::string("gis: SIGINT while import writes ") + mark, wrong);
    }
}

// A file-size limit that stops each of the files, and address-space limits
// around each stage.
void limits(Tally& t)
{
    for (long long limit : {0LL, 100LL, 10000LL, 30000LL, 60000LL, 200000LL}) {
        Outputs o;
        Run_options opt;
        opt.file_size_limit = limit;
        const Program_run r = run_program(RF_GIS_BINARY, build_args(o, "25", false), opt);
        t.record("gis: file size limit " + std::to_string(limit), stopped_or_whole(o, r));
    }
#if !defined(__SANITIZE_ADDRESS__)
    for (long long mb = 250; mb <= 600; mb += 25) {
        Outputs o;
        Run_options opt;
        opt.memory_limit = mb << 20;
        const Program_run r = run_program(RF_GIS_BINARY, build_args(o, "3", true), opt);
        std::string wrong = stopped_or_whole(o, r);
        if (r.status == 1 && r.err.find("memory") == std::string::npos)
            wrong = "not the memory message: " + r.err;
        t.record("gis: address space " + std::to_string(mb) + " MB", wrong);
    }
#endif
}

// Two runs at once on the same outputs: each set is one run's.
void concurrent(Tally& t)
{
    for (int round = 0; round < 4; ++round) {
        Temp_dir d;
        const std::string base = d.path + "/m";
        std::thread other([&] {
            run_program(RF_GIS_BINARY, {"import", kSample, "--cell", "20", "--out", base, "-q"},
                        {});
        });
        run_program(RF_GIS_BINARY, {"import", kSample, "--cell", "10", "--out", base, "-q"}, {});
        other.join();
        // The header's lines and columns match the raster's size and the .vrt's.
        const std::string header = read_file(base + "_c4.txt");
        long long lines = 0, cols = 0;
        std::sscanf(header.c_str(), "%lld %lld", &lines, &cols);
        const std::string vrt = read_file(base + "_c4.vrt");
        std::string wrong;
        if (static_cast<long long>(read_file(base + "_c4.raw").size()) != lines * cols * 4)
            wrong = "the raster is not the header's";
        if (vrt.find("rasterXSize=\"" + std::to_string(cols) + "\"") == std::string::npos)
            wrong = "the .vrt is not the header's";
        if (list_dir(d.path).size() != 3) wrong = "files left";
        t.record("gis: two imports at once, round " + std::to_string(round + 1), wrong);
    }
}

// The plugin's run of the tool, canceled at each stage: its own script
// prints "tried N good M" after its own lines of faults.
void plugin(Tally& t)
{
    const std::string python = "/usr/bin/python3";
    if (std::system((python + " -c 'import qgis.core' 2>/dev/null").c_str()) != 0) {
        std::printf("plugin: QGIS's Python bindings are not installed; left out\n");
        return;
    }
    const Program_run r =
        run_program(python,
                    {std::string(RF_SOURCE_DIR) + "/tests/faults/plugin_faults.py", RF_SOURCE_DIR,
                     RF_GIS_BINARY},
                    {});
    std::fputs(r.out.c_str(), stdout);
    int tried = 0, good = 0;
    const std::size_t at = r.out.rfind("tried ");
    if (r.status > 1 || at == std::string::npos ||
        std::sscanf(r.out.c_str() + at, "tried %d good %d", &tried, &good) != 2) {
        t.record("plugin: its fault script", "did not run: " + r.err);
        return;
    }
    t.tried += tried;
    t.good += good;
}

} // namespace

int main()
{
    Tally t;
    every_signal(t);
    each_stage(t);
    limits(t);
    concurrent(t);
    plugin(t);
    std::printf("GIS fault injection: %d faults tried, %d ended as they should with nothing "
                "lost\n",
                t.tried, t.good);
    std::printf("%d passed, %d failed\n", t.good, t.tried - t.good);
    return t.good == t.tried ? 0 : 1;
}
