#include "console_clock.h"

#include "base/console.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <sys/types.h>

double now_seconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

namespace {

ssize_t write_piece(void* cookie, const char* data, std::size_t size)
{
    static_cast<Console_clock*>(cookie)->receive(data, size);
    return static_cast<ssize_t>(size);
}

} // namespace

Console_clock::Console_clock()
{
    cookie_io_functions_t io{};
    io.write = write_piece;
    sink_ = fopencookie(this, "w", io);
    if (!sink_) throw std::runtime_error("cannot open the console sink");
    // Unbuffered, so that every text is timed when it is said.
    std::setvbuf(sink_, nullptr, _IONBF, 0);
    old_ = console_redirect(sink_);
}

Console_clock::~Console_clock()
{
    console_redirect(old_);
    std::fclose(sink_);
}

void Console_clock::receive(const char* data, std::size_t size)
{
    text_.append(data, size);
    pieces_.push_back({text_.size(), now_seconds()});
}

double Console_clock::time_at(std::size_t offset) const
{
    const auto it = std::upper_bound(pieces_.begin(), pieces_.end(), offset,
                                     [](std::size_t o, const Piece& p) { return o < p.end; });
    return it == pieces_.end() ? now_seconds() : it->time;
}
