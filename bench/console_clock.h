// A console sink for the benchmark: keeps every text the stages say, with
// the time each piece arrived, so that the passes of a loop can be timed from
// the lines that open and close them.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

// Seconds on the monotonic clock.
double now_seconds();

class Console_clock {
  public:
    // Sends the console here until destruction.
    Console_clock();
    ~Console_clock();
    Console_clock(const Console_clock&) = delete;
    Console_clock& operator=(const Console_clock&) = delete;

    // Everything said so far.
    const std::string& text() const { return text_; }
    // When the byte at `offset` of text() arrived.
    double time_at(std::size_t offset) const;
    // Appends said text; called by the sink.
    void receive(const char* data, std::size_t size);

  private:
    struct Piece {
        std::size_t end; // text_[.. end) had arrived at `time`
        double time;
    };
    std::string text_;
    std::vector<Piece> pieces_;
    std::FILE* sink_ = nullptr;
    std::FILE* old_ = nullptr;
};
