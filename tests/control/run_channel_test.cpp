// A run channel: the console text and the stop request of one run, followed
// by the workers it starts and by no other thread.
#include "base/console.h"
#include "control/control.h"
#include "surface/parallel.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <thread>

namespace {

struct Captured {
    std::mutex mutex;
    std::string text;
};

void capture(void* user, const char* s, std::size_t n)
{
    auto* c = static_cast<Captured*>(user);
    const std::lock_guard<std::mutex> hold(c->mutex);
    c->text.append(s, n);
}

TEST(RunChannel, TextAndStopFollowTheRunAndItsWorkersOnly)
{
    std::FILE* sink = std::tmpfile();
    ASSERT_NE(sink, nullptr);
    std::FILE* previous = console_redirect(sink);
    Captured captured;
    Run_channel channel;
    channel.text = capture;
    channel.user = &captured;
    {
        const Run_channel_scope scope(&channel);
        say("run %d;", 1);
        run_workers(3, [](int t) { say("worker %d;", t); });
        EXPECT_FALSE(interrupt_pending());
        // Another thread, not started by the run, keeps the console.
        bool outside_pending = true;
        std::thread([&] {
            say("outside;");
            channel.stop = true;
            outside_pending = interrupt_pending();
            channel.stop = false;
        }).join();
        EXPECT_FALSE(outside_pending);
        channel.stop = true;
        EXPECT_TRUE(interrupt_pending());
        EXPECT_THROW(interruption_point(), Run_error);
        Worker_team team(2);
        bool seen[2] = {false, false};
        team.run([&](int t) { seen[t] = interrupt_pending(); });
        EXPECT_TRUE(seen[0] && seen[1]);
    }
    EXPECT_FALSE(interrupt_pending());
    console_redirect(previous);

    for (const char* piece : {"run 1;", "worker 0;", "worker 1;", "worker 2;"})
        EXPECT_NE(captured.text.find(piece), std::string::npos) << piece;
    EXPECT_EQ(captured.text.find("outside"), std::string::npos);
    std::rewind(sink);
    char line[64] = {};
    ASSERT_NE(std::fgets(line, sizeof line, sink), nullptr);
    EXPECT_STREQ(line, "outside;");
    std::fclose(sink);
}

} // namespace
