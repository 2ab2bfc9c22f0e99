// The console: every text the run shows goes through here, so the exact bytes
// are written in one place and tests can capture them.
#pragma once

#include <cstdio>

// printf-style checking against the printf the program is linked with:
// MinGW's own, which has the C99 formats (%zu) that Microsoft's lacks.
#ifdef __MINGW_PRINTF_FORMAT
#define RF_PRINTF(fmt, first) __attribute__((format(__MINGW_PRINTF_FORMAT, fmt, first)))
#else
#define RF_PRINTF(fmt, first) __attribute__((format(printf, fmt, first)))
#endif

// Writes formatted text to the console sink (standard output unless a test
// redirected it) and flushes it, so that every text shows as soon as it is
// written, through a pipe too, on every host.
void say(const char* fmt, ...) RF_PRINTF(1, 2);

// Whether a write to the console failed (a closed pipe, a terminal gone):
// the run then ends at its next safe point, as if interrupted.
bool console_lost();

// Flushes the console sink, so that a prompt is visible before an answer is read.
void say_flush();

// Redirects the console to `sink` (nullptr restores standard output) and
// returns the previous sink.
std::FILE* console_redirect(std::FILE* sink);
