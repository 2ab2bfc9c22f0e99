// The outputs of relief_forge_gis committed together: output names refused
// before the work (inputs, archives behind /vsizip/ and the like, folders),
// earlier files kept when a command fails or is interrupted before its
// commit, every ending signal removing GDAL's temporaries as well as ours.
#include "gis/outputs/commit.h"
#include "support/run_program.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const std::string kSample =
    std::string(RF_SOURCE_DIR) + "/data/sample_vector/hills_contours.geojson";
const std::string kEarlier = "earlier file";
// Cells fine enough for GDAL's overviews to take a while; the sanitizers
// slow every stage down, so coarser ones do there.
#if defined(__SANITIZE_ADDRESS__)
const char* const kFine_cell = "8";
#else
const char* const kFine_cell = "3";
#endif

// A folder holding the sample contours and the earlier outputs of a run.
struct Folder {
    Temp_dir d;
    std::string dir = d.path + "/";
    Folder() { fs::copy_file(kSample, dir + "c.geojson"); }
    std::string at(const std::string& name) const { return dir + name; }
    Program_run gis(const std::vector<std::string>& args, Run_options o = {}) const
    {
        return run_program(RF_GIS_BINARY, args, o);
    }
    // Names left by a run that it did not mean to write.
    std::vector<std::string> temporaries() const
    {
        std::vector<std::string> left;
        for (const std::string& f : list_dir(d.path))
            if (f.find(".tmp") != std::string::npos || f.find(".old") != std::string::npos)
                left.push_back(f);
        return left;
    }
};

std::string shell(const std::string& command)
{
    const int r = std::system(command.c_str());
    return r == 0 ? "" : "failed: " + command;
}

// Runs the tool with every signal at its default, as a shell starts it, and
// sends `sig` once a file whose name holds `mark` appears in `dir`.
Program_run signal_when_file(const std::vector<std::string>& args, const std::string& dir,
                             const std::string& mark, int sig, bool& seen)
{
    const std::string err_path = dir + "/../stderr.txt";
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
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (!ended) waitpid(pid, &wstatus, 0);
    Program_run r;
    r.err = read_file(err_path);
    if (WIFEXITED(wstatus)) r.status = WEXITSTATUS(wstatus);
    if (WIFSIGNALED(wstatus)) r.signal = WTERMSIG(wstatus);
    return r;
}

} // namespace

// Each output name is refused before anything is read or written, the
// earlier files of every name as they were.
TEST(GisCommit, OutputsThatAreInputsFoldersOrNotFilesAreRefusedFirst)
{
    Folder f;
    const std::string d = f.dir;
    ASSERT_EQ(shell("cd '" + d +
                    "' && zip -q c.zip c.geojson && tar cf c.tar c.geojson && "
                    "gzip -kq c.geojson && ogr2ogr c.shp c.geojson && mkdir -p shp && "
                    "ogr2ogr shp/c.shp c.geojson && mkfifo fifo && mkdir -p taken.tif"),
              "");
    const struct {
        const char* name;
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {"archive behind /vsizip/, relative",
         {"build", "/vsizip/c.zip/c.geojson", "--out", "c.zip"},
         "is the archive that holds the contours"},
        {"archive in braces",
         {"build", "/vsizip/{" + d + "c.zip}/c.geojson", "--out", "./c.zip"},
         "is the archive that holds the contours"},
        {"archive behind /vsitar/, absolute",
         {"build", "/vsitar/" + d + "c.tar/c.geojson", "--out", "c.tar"},
         "is the archive that holds the contours"},
        {"file behind /vsigzip/",
         {"build", "/vsigzip/c.geojson.gz", "--out", "c.geojson.gz"},
         "is the archive that holds the contours"},
        {"preview on the archive",
         {"build", "/vsizip/c.zip/c.geojson", "--out", "dem.tif", "--preview", "c.zip"},
         "is the archive that holds the contours"},
        {"a shapefile's table", {"build", "c.shp", "--out", "c.dbf"}, "a file of the contours"},
        {"inside an input folder", {"build", "shp", "--out", "shp/dem.tif"}, "lies inside"},
        {"preview is a folder",
         {"build", "c.geojson", "--out", "dem.tif", "--preview", "taken.tif"},
         "it is a folder"},
        {"output is a FIFO", {"build", "c.geojson", "--out", "fifo"}, "not a regular file"},
        {"output in GDAL's memory",
         {"build", "c.geojson", "--out", "/vsimem/dem.tif"},
         "virtual files"},
        {"name too long",
         {"build", "c.geojson", "--out", std::string(250, 'n') + ".tif"},
         "bytes long"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // Run in the folder, so that relative names are its own.
        std::vector<std::string> args = {"-c", "cd \"$0\" && exec \"$@\"", d, RF_GIS_BINARY};
        args.insert(args.end(), c.args.begin(), c.args.end());
        for (const char* extra : {"--cell", "25", "-e", "10", "-q"}) args.push_back(extra);
        write_file(d + "dem.tif", kEarlier);
        const std::vector<std::string> before = list_dir(d);
        const std::string zip = read_file(d + "c.zip");
        const Program_run r = run_program("/bin/sh", args, {});
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(read_file(d + "c.zip"), zip);
        EXPECT_EQ(read_file(d + "dem.tif"), kEarlier);
        EXPECT_EQ(list_dir(d), before);
    }
}

// A command that fails or is interrupted after its DEM is complete, while it
// writes the preview, leaves the earlier DEM and preview as they were and
// says that nothing was written; import's three files likewise.
TEST(GisCommit, FailureOrInterruptBeforeTheCommitKeepsEveryEarlierFile)
{
    Folder f;
    const std::string dem = f.at("dem.tif"), png = f.at("p.png");
    const std::vector<std::string> build = {"build", f.at("c.geojson"), "--cell",      "25",
                                            "-e",    "10",              "--out",       dem,
                                            "--preview", png,           "-ot",         "Int32",
                                            "--oversample", "1"};
    {
        write_file(dem, kEarlier);
        write_file(png, kEarlier);
        Run_options o;
        // Room for the DEM (about 21 kB) but not for the preview (about 65 kB).
        o.file_size_limit = 40000;
        const Program_run r = f.gis(build, o);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("cannot write " + png), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("no file was written"), std::string::npos) << r.err;
        EXPECT_EQ(read_file(dem), kEarlier);
        EXPECT_EQ(read_file(png), kEarlier);
        EXPECT_TRUE(f.temporaries().empty());
    }
    for (const char* stage : {"preview", "writing"}) {
        SCOPED_TRACE(stage);
        write_file(dem, kEarlier);
        write_file(png, kEarlier);
        Run_options o;
        o.signal_after = std::string(stage) + ":";
        o.signal_to_send = SIGINT;
        std::vector<std::string> args = build;
        args[3] = "10";
        const Program_run r = f.gis(args, o);
        ASSERT_EQ(r.status, 1) << r.err;
        EXPECT_NE(r.err.find("interrupted; no file was written"), std::string::npos) << r.err;
        EXPECT_EQ(read_file(dem), kEarlier);
        EXPECT_EQ(read_file(png), kEarlier);
        EXPECT_TRUE(f.temporaries().empty());
    }
    {
        // Import: the earlier raster, header and virtual raster stay a set.
        for (const char* ext : {"_c4.raw", "_c4.txt", "_c4.vrt"}) write_file(f.at("m") + ext, ext);
        Run_options o;
        o.file_size_limit = 100000;
        const Program_run r =
            f.gis({"import", f.at("c.geojson"), "--cell", "10", "--out", f.at("m"), "-q"}, o);
        EXPECT_EQ(r.status, 1);
        for (const char* ext : {"_c4.raw", "_c4.txt", "_c4.vrt"})
            EXPECT_EQ(read_file(f.at("m") + ext), ext);
        EXPECT_TRUE(f.temporaries().empty());
    }
}

// Every signal that ends a process by default removes the tool's temporary
// DEM and GDAL's own temporaries, here the COG's overviews being built.
TEST(GisCommit, EverySignalRemovesGdalTemporariesToo)
{
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGALRM, SIGPWR, SIGIO, SIGSYS,
                    SIGTRAP, SIGABRT, SIGRTMIN, SIGRTMAX}) {
        SCOPED_TRACE(strsignal(sig));
        Folder f;
        fs::create_directories(f.at("out"));
        write_file(f.at("out/dem.tif"), kEarlier);
        bool seen = false;
        const Program_run r =
            signal_when_file({"build", f.at("c.geojson"), "--cell", kFine_cell, "-e", "10",
                              "--format", "COG", "--out", f.at("out/dem.tif"), "-q"},
                             f.at("out"), ".ovr.tmp", sig, seen);
        ASSERT_TRUE(seen) << "the COG's overviews were never built: " << r.err;
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_EQ(r.signal, 0);
        EXPECT_NE(r.err.find("interrupted; no file was written"), std::string::npos) << r.err;
        EXPECT_EQ(list_dir(f.at("out")), std::vector<std::string>{"dem.tif"});
        EXPECT_EQ(read_file(f.at("out/dem.tif")), kEarlier);
    }
}

// The commit itself: every new file in, no earlier file left aside; when one
// rename fails, every earlier file back and the new ones at their temporary
// names for the caller to remove.
TEST(GisCommit, CommitPutsAllInOrPutsEveryEarlierFileBack)
{
    Temp_dir d;
    const std::string a = d.path + "/a.tif", b = d.path + "/b.png", c = d.path + "/c.txt";
    const auto stage = [&](const std::string& final_path, const std::string& text) {
        write_file(temporary_name(final_path), text);
        return Output_pair{temporary_name(final_path), final_path};
    };
    write_file(a, "earlier a");
    commit_outputs({stage(a, "new a"), stage(b, "new b")});
    EXPECT_EQ(read_file(a), "new a");
    EXPECT_EQ(read_file(b), "new b");
    EXPECT_EQ(list_dir(d.path), (std::vector<std::string>{"a.tif", "b.png"}));

    // A rename that fails before any new file is in (c.txt became a folder
    // after the check) and one that fails after a.tif and b.png are in (the
    // temporary of c.txt lies on another file system).
    Temp_dir elsewhere("/dev/shm");
    for (bool folder : {true, false}) {
        SCOPED_TRACE(folder ? "c.txt is a folder" : "c.txt's temporary on another file system");
        if (folder) fs::create_directories(c + "/inside");
        const std::string c_temp = folder ? temporary_name(c) : elsewhere.path + "/c.tmp";
        write_file(c_temp, "new c");
        const std::vector<Output_pair> pairs = {stage(a, "newer a"), stage(b, "newer b"),
                                                Output_pair{c_temp, c}};
        try {
            commit_outputs(pairs);
            ADD_FAILURE() << "the commit did not fail";
        } catch (const std::exception& e) {
            EXPECT_NE(std::string(e.what()).find("cannot write " + c), std::string::npos)
                << e.what();
            EXPECT_NE(std::string(e.what()).find("no file was written"), std::string::npos);
        }
        EXPECT_EQ(read_file(a), "new a");
        EXPECT_EQ(read_file(b), "new b");
        EXPECT_EQ(fs::is_directory(c), folder);
        EXPECT_EQ(file_exists(c), folder);
        for (const Output_pair& p : pairs) {
            EXPECT_TRUE(file_exists(p.temp_path)) << p.temp_path;
            fs::remove(p.temp_path);
        }
        fs::remove_all(c);
        EXPECT_EQ(list_dir(d.path), (std::vector<std::string>{"a.tif", "b.png"}));
    }
}

// An interrupt after the commit says which files were written.
TEST(GisCommit, InterruptAfterTheCommitSaysWhatWasWritten)
{
    Temp_dir d;
    const std::string a = d.path + "/a.tif", b = d.path + "/b.png";
    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipe_fds[1], 2);
        install_interrupt_cleanup();
        write_file(temporary_name(a), "a");
        write_file(temporary_name(b), "b");
        commit_outputs({{temporary_name(a), a}, {temporary_name(b), b}});
        raise(SIGTERM);
        _exit(0);
    }
    close(pipe_fds[1]);
    std::string err;
    char buf[512];
    for (ssize_t n; (n = read(pipe_fds[0], buf, sizeof buf)) > 0;)
        err.append(buf, static_cast<std::size_t>(n));
    close(pipe_fds[0]);
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 1);
    EXPECT_EQ(err, "relief_forge_gis: interrupted after it wrote " + a + ", " + b + "\n");
}
