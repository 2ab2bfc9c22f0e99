// Memory running out inside the dilation's workers: the pass throws
// std::bad_alloc on the calling thread, as it does when the calling thread's
// own allocations fail, instead of ending the process; no worker is left
// waiting for the one that failed. This binary replaces operator new so that,
// once armed, every allocation fails on the threads other than the test's.
#include "support/grid_helpers.h"
#include "surface/surface.h"

#include <atomic>
#include <cstdlib>
#include <gtest/gtest.h>
#include <new>
#include <thread>

namespace {

std::atomic<bool> g_armed{false};
std::atomic<int> g_refused{0};
std::thread::id g_test_thread;

} // namespace

void* operator new(std::size_t n)
{
    if (g_armed.load(std::memory_order_relaxed) && std::this_thread::get_id() != g_test_thread) {
        g_refused.fetch_add(1);
        throw std::bad_alloc();
    }
    if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

// Diagonal contours every 12 pixels, 32 levels apart: passes with many
// insertions, in every tile.
Rows diagonal_contours(int side)
{
    return make_rows(side, side,
                     [](int l, int c) { return (l + c) % 12 == 0 ? (l + c) / 12 * 32 : E; });
}

struct Memory_case {
    const char* name;
    Dilation_scans scans;
    int tile_side;
    int passes_before; // passes run before the allocations fail
};

TEST(DilationMemory, AWorkerOutOfMemoryThrowsFromThePass)
{
    const Memory_case kCases[] = {
        {"first pass by scans", Dilation_scans::always, 0, 0},
        {"later pass by scans", Dilation_scans::always, 0, 1},
        {"first pass by tiles", Dilation_scans::never, 8, 0},
        {"later pass by tiles", Dilation_scans::never, 8, 1},
    };
    g_test_thread = std::this_thread::get_id();
    int refused_cases = 0;
    for (const Memory_case& m : kCases) {
        SCOPED_TRACE(m.name);
        Grid_state g(diagonal_contours(700));
        Dilation_work w;
        w.settings.threads = 2;
        w.settings.tile_side = m.tile_side;
        w.settings.scans = m.scans;
        for (int k = 0; k < m.passes_before; ++k) gonflette(g.s, w);
        g_refused = 0;
        g_armed = true;
        bool threw = false;
        try {
            gonflette(g.s, w);
        } catch (const std::bad_alloc&) {
            threw = true;
        }
        g_armed = false;
        // A worker that never needed memory lets the pass end normally.
        EXPECT_EQ(threw, g_refused.load() > 0);
        refused_cases += g_refused.load() > 0;
    }
    EXPECT_GT(refused_cases, 0);
}

} // namespace
