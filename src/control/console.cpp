#include "control/console.h"

#include <cstdarg>

namespace {
std::FILE* g_sink = nullptr;

std::FILE* sink() { return g_sink ? g_sink : stdout; }
} // namespace

void say(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    std::vfprintf(sink(), fmt, args);
    va_end(args);
    // Line buffering is full buffering in Microsoft's runtime.
    std::fflush(sink());
}

void say_flush() { std::fflush(sink()); }

std::FILE* console_redirect(std::FILE* new_sink)
{
    std::FILE* old = g_sink;
    g_sink = new_sink;
    return old;
}
