#include "base/console.h"

#include <atomic>
#include <cstdarg>

namespace {
std::FILE* g_sink = nullptr;
// Set from any thread that prints progress.
std::atomic<bool> g_lost{false};

std::FILE* sink() { return g_sink ? g_sink : stdout; }
} // namespace

void say(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    std::vfprintf(sink(), fmt, args);
    va_end(args);
    // Line buffering is full buffering in Microsoft's runtime.
    if (std::fflush(sink()) != 0 || std::ferror(sink())) g_lost = true;
}

bool console_lost() { return g_lost; }

void say_flush()
{
    if (std::fflush(sink()) != 0 || std::ferror(sink())) g_lost = true;
}

std::FILE* console_redirect(std::FILE* new_sink)
{
    std::FILE* old = g_sink;
    g_sink = new_sink;
    g_lost = false;
    return old;
}
