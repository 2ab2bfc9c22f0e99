// Every signal that ends a process by default removes the interactive
// program's temporary DEM files, here at the question asked while both
// exist; a signal ignored at start stays ignored.
#include "support/run_program.h"

#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <string>

namespace {

constexpr int ND = -99999;

// 4 x 4 with two contour lines, and its header.
std::string small_raster()
{
    std::string b;
    for (int k = 0; k < 16; ++k) {
        const int v = k < 4 ? 100 : k >= 12 ? 200 : ND;
        for (int byte = 0; byte < 4; ++byte)
            b.push_back(static_cast<char>((static_cast<unsigned>(v) >> (8 * byte)) & 0xFF));
    }
    return b;
}

} // namespace

TEST(Signals, EveryEndingSignalAtAQuestionRemovesTheTemporaryDem)
{
    std::vector<int> signals = {SIGINT,    SIGTERM, SIGHUP,    SIGQUIT, SIGALRM,  SIGUSR1,
                                SIGUSR2,   SIGPROF, SIGVTALRM, SIGXCPU, SIGPWR,   SIGIO,
                                SIGSTKFLT, SIGSYS,  SIGTRAP,   SIGABRT, SIGRTMIN, SIGRTMAX};
    for (int sig : signals) {
        SCOPED_TRACE(std::to_string(sig) + " " + strsignal(sig));
        Temp_dir home;
        const std::string dir = home.path + "/images/maps/";
        write_file(dir + "s_c4.raw", small_raster());
        write_file(dir + "s_c4.txt", host_text("4\n4\n4\n100\n200\n10\n"));
        Run_options o;
        o.home = home.path;
        o.input = "maps\ns\n1\n0\n";
        o.signal_after = "Equidistance of the contour lines";
        o.signal_to_send = sig;
        const Program_run r = run_program(RF_BINARY, {}, o);
        EXPECT_EQ(r.signal, 0);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.out.find("Interrupted : no result was written"), std::string::npos) << r.out;
        EXPECT_EQ(list_dir(dir), (std::vector<std::string>{"s_c4.raw", "s_c4.txt"}));
    }
}
