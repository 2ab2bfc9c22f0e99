// Progress on standard error, and the console sink that turns the library
// stages' progress lines into it.
#include "gis/gis.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

constexpr int kBar_width = 30;

struct Progress {
    bool on = false;
    bool tty = false;
    bool active = false; // a stage line is open
    bool bar = false;    // the stage reports fractions
    std::string label;
    std::string counter;   // ", pass 4"
    int percent = -1;      // last percentage shown
    int tenths_shown = -1; // last tenth shown off a terminal
};

Progress g;

void draw()
{
    if (!g.tty) return;
    std::string line = "\r" + g.label + g.counter;
    if (g.bar) {
        const int p = g.percent < 0 ? 0 : g.percent;
        const int filled = p * kBar_width / 100;
        line += " [" + std::string(static_cast<std::size_t>(filled), '#') +
                std::string(static_cast<std::size_t>(kBar_width - filled), '.') + "] ";
        char pct[16];
        std::snprintf(pct, sizeof pct, "%3d%%", p);
        line += pct;
    }
    line += "\033[K"; // clear what a longer earlier line left
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

} // namespace

void progress_enable(bool on)
{
    g.on = on;
    g.tty = isatty(STDERR_FILENO) != 0;
}

void progress_stage(const char* label, bool with_bar)
{
    if (!g.on) return;
    if (g.active) progress_done();
    g.active = true;
    g.bar = with_bar;
    g.label = label;
    g.counter.clear();
    g.percent = -1;
    g.tenths_shown = -1;
    if (g.tty)
        draw();
    else
        std::fprintf(stderr, "%s: ", label);
    progress_fraction(0);
}

void progress_fraction(double fraction)
{
    if (!g.on || !g.active || !g.bar) return;
    if (fraction < 0) fraction = 0;
    if (fraction > 1) fraction = 1;
    const int p = static_cast<int>(fraction * 100);
    if (p == g.percent) return;
    g.percent = p;
    if (g.tty) {
        draw();
        return;
    }
    // Off a terminal: "0...10...20", one mark per tenth reached.
    const int tenths = p / 10;
    while (g.tenths_shown < tenths) {
        ++g.tenths_shown;
        std::fprintf(stderr, g.tenths_shown == 0 ? "%d" : "...%d", g.tenths_shown * 10);
    }
    std::fflush(stderr);
}

void progress_count(const char* what, int n)
{
    if (!g.on || !g.active) return;
    g.counter = std::string(", ") + what + " " + std::to_string(n);
    draw();
}

void progress_done()
{
    if (!g.on || !g.active) return;
    progress_fraction(1);
    if (g.tty) {
        draw();
        std::fputs("\n", stderr);
    } else {
        if (!g.counter.empty())
            std::fprintf(stderr, "%s%s ", g.bar ? " " : "", g.counter.c_str() + 2);
        std::fputs(g.bar ? " - done\n" : "done\n", stderr);
    }
    std::fflush(stderr);
    g.active = false;
}

void progress_note(const std::string& text)
{
    if (!g.on) return;
    if (g.active) progress_abort();
    std::fprintf(stderr, "relief_forge_gis: %s\n", text.c_str());
    std::fflush(stderr);
}

void progress_abort()
{
    if (!g.on || !g.active) return;
    std::fputs("\n", stderr);
    std::fflush(stderr);
    g.active = false;
}

int gdal_progress(double complete, const char*, void*)
{
    progress_fraction(complete);
    return 1;
}

namespace {

// What the stage sink has seen and not yet understood.
struct Stage_sink {
    int nb_lig = 1;
    std::string pending;
};

// Reads the number after `key` at `p` in `text`; -1 while incomplete.
long number_after(const std::string& text, std::size_t p, std::size_t& end)
{
    std::size_t q = p;
    while (q < text.size() && text[q] >= '0' && text[q] <= '9') ++q;
    if (q == p || q == text.size()) return -1; // no digit yet, or it may go on
    end = q;
    return std::strtol(text.c_str() + p, nullptr, 10);
}

ssize_t sink_write(void* cookie, const char* buf, size_t size)
{
    auto* sink = static_cast<Stage_sink*>(cookie);
    sink->pending.append(buf, size);
    std::string& t = sink->pending;
    static const std::string pass_key = "Iterative process number ";
    static const std::string line_key = "line ";
    std::size_t done = 0;
    for (;;) {
        const std::size_t a = t.find(pass_key, done);
        const std::size_t b = t.find(line_key, done);
        const std::size_t at = std::min(a, b);
        if (at == std::string::npos) break;
        const std::size_t start = at + (at == a ? pass_key.size() : line_key.size());
        std::size_t end = 0;
        const long n = number_after(t, start, end);
        if (n < 0) {
            if (end == 0 && start < t.size() && !(t[start] >= '0' && t[start] <= '9')) {
                done = start; // not a progress line after all
                continue;
            }
            break; // wait for the rest
        }
        if (at == a)
            progress_count("pass", static_cast<int>(n));
        else
            progress_fraction(static_cast<double>(n) / sink->nb_lig);
        done = end;
    }
    // Keep only what may still be the start of a progress line.
    const std::size_t keep = std::max(pass_key.size(), line_key.size()) + 12;
    if (done > 0) t.erase(0, done);
    if (t.size() > keep && t.find(pass_key) == std::string::npos &&
        t.find(line_key) == std::string::npos)
        t.erase(0, t.size() - keep);
    return static_cast<ssize_t>(size);
}

int sink_close(void* cookie)
{
    delete static_cast<Stage_sink*>(cookie);
    return 0;
}

} // namespace

std::FILE* open_stage_sink(int nb_lig)
{
    auto* sink = new Stage_sink;
    sink->nb_lig = nb_lig > 0 ? nb_lig : 1;
    cookie_io_functions_t io{};
    io.write = sink_write;
    io.close = sink_close;
    std::FILE* f = fopencookie(sink, "w", io);
    if (!f) {
        delete sink;
        return nullptr;
    }
    // Unbuffered, so that the bar moves as the stage prints.
    std::setvbuf(f, nullptr, _IONBF, 0);
    return f;
}
