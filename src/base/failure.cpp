// The run's failure and its safe points.
#include "base/failure.h"

#include "base/console.h"
#include "base/host.h"

#include <cstdarg>
#include <cstdio>
#include <string>

namespace {

const char kNothing_written[] = "\n\n\tInterrupted : no result was written \n";
const char* volatile g_interruption_message = kNothing_written;

} // namespace

std::string format_text(const char* fmt, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string text(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
    std::vsnprintf(text.data(), text.size() + 1, fmt, args);
    return text;
}

void fail(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    const std::string text = format_text(fmt, args);
    va_end(args);
    throw Run_error(text);
}

bool interrupt_pending()
{
    // A run with a channel of its own has no console to lose.
    if (const Run_channel* ch = run_channel())
        return ch->stop.load(std::memory_order_relaxed) || host_interrupted();
    return host_interrupted() || console_lost();
}

void interruption_point()
{
    if (interrupt_pending()) throw Run_error(g_interruption_message);
}

void set_interruption_message(const char* message)
{
    g_interruption_message = message ? message : kNothing_written;
}

const char* interruption_message() { return g_interruption_message; }
