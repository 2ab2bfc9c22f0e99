// The console: every text the run shows goes through here, so the exact bytes
// are written in one place and tests can capture them.
#pragma once

#include <cstdio>

// Writes formatted text to the console sink (standard output unless a test
// redirected it) and returns nothing; output is not flushed line by line.
void say(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Flushes the console sink, so that a prompt is visible before an answer is read.
void say_flush();

// Redirects the console to `sink` (nullptr restores standard output) and
// returns the previous sink.
std::FILE* console_redirect(std::FILE* sink);
