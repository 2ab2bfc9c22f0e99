// The console: every text the run shows goes through here, so the exact bytes
// are written in one place and tests can capture them.
#pragma once

#include <atomic>
#include <cstddef>
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

// One run's own console and stop request, for a host that runs several runs
// at once in one process (the Python module). While a thread has a channel,
// say() hands that run's text to it instead of the console, and the run's
// safe points also honour its stop request. The workers of a stage take
// the channel of the thread that starts them.
struct Run_channel {
    // Receives the text of one say(); nullptr drops it. Called from the
    // run's threads, one at a time.
    void (*text)(void* user, const char* s, std::size_t n) = nullptr;
    void* user = nullptr;
    // Set from any thread: the run ends at its next safe point.
    std::atomic<bool> stop{false};
};

// The calling thread's channel; nullptr for the process's console.
Run_channel* run_channel();
// Sets the calling thread's channel and returns the one it had.
Run_channel* run_channel_swap(Run_channel* channel);

// Gives the calling thread a channel for as long as it lives.
struct Run_channel_scope {
    Run_channel* previous;
    explicit Run_channel_scope(Run_channel* channel) : previous(run_channel_swap(channel)) {}
    ~Run_channel_scope() { run_channel_swap(previous); }
    Run_channel_scope(const Run_channel_scope&) = delete;
    Run_channel_scope& operator=(const Run_channel_scope&) = delete;
};
