#include "base/console.h"

#include <algorithm>
#include <atomic>
#include <cstdarg>

namespace {
std::FILE* g_sink = nullptr;
// Set from any thread that prints progress.
std::atomic<bool> g_lost{false};
thread_local Run_channel* t_channel = nullptr;

std::FILE* sink() { return g_sink ? g_sink : stdout; }
} // namespace

void say(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    if (Run_channel* ch = t_channel) {
        // Progress lines are short: a longer text is cut, never overrun.
        char text[512];
        const int n = ch->text ? std::vsnprintf(text, sizeof text, fmt, args) : 0;
        va_end(args);
        if (n > 0) ch->text(ch->user, text, std::min(static_cast<std::size_t>(n), sizeof text - 1));
        return;
    }
    std::vfprintf(sink(), fmt, args);
    va_end(args);
    // Line buffering is full buffering in Microsoft's runtime.
    if (std::fflush(sink()) != 0 || std::ferror(sink())) g_lost = true;
}

bool console_lost() { return g_lost; }

void say_flush()
{
    if (t_channel) return;
    if (std::fflush(sink()) != 0 || std::ferror(sink())) g_lost = true;
}

std::FILE* console_redirect(std::FILE* new_sink)
{
    std::FILE* old = g_sink;
    g_sink = new_sink;
    g_lost = false;
    return old;
}

Run_channel* run_channel() { return t_channel; }

Run_channel* run_channel_swap(Run_channel* channel)
{
    Run_channel* old = t_channel;
    t_channel = channel;
    return old;
}
