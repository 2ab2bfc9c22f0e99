// Work spread over the cores, for the stages whose result cannot depend on
// the order in which pixels are visited: each pixel is written by one worker
// from values that no worker changes.
#pragma once

#include "base/console.h"

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

// Below this many pixels a stage runs on the calling thread alone: starting
// a thread costs more than the work.
inline constexpr std::int64_t kParallel_min_pixels = 1 << 16;

// Workers for a stage over `pixels` pixels: one per core, at least one.
inline int worker_count(std::int64_t pixels)
{
    if (pixels < kParallel_min_pixels) return 1;
    const unsigned cores = std::thread::hardware_concurrency();
    return cores > 0 ? static_cast<int>(cores) : 1;
}

// Runs body(t) for every t from 0 to workers - 1, each on a thread of its
// own (t = 0 on the calling thread), and returns when all have finished. A
// share whose thread cannot be started runs on the calling thread. The body
// must not throw. The workers share the calling thread's run channel.
template <typename Body> void run_workers(int workers, Body&& body)
{
    std::vector<std::thread> threads;
    Run_channel* const channel = run_channel();
    const auto worker = [&body, channel](int t) {
        const Run_channel_scope scope(channel);
        body(t);
    };
    int started = 1;
    try {
        threads.reserve(static_cast<std::size_t>(std::max(workers - 1, 0)));
        for (; started < workers; ++started) threads.emplace_back(worker, started);
    } catch (const std::system_error&) {
    } catch (const std::bad_alloc&) {
    }
    body(0);
    for (int t = started; t < workers; ++t) body(t);
    for (std::thread& th : threads) th.join();
}

// A team of workers kept for a run of steps: the calling thread is worker 0,
// the others wait on threads of their own between steps. Starting threads
// once for many short steps saves what starting them costs, which on some
// hosts is much. A worker whose thread cannot be started is left out. The
// workers share the run channel of the thread that makes the team.
class Worker_team {
  public:
    explicit Worker_team(int workers)
    {
        Run_channel* const channel = run_channel();
        try {
            threads.reserve(static_cast<std::size_t>(std::max(workers - 1, 0)));
            for (int t = 1; t < workers; ++t)
                threads.emplace_back([this, t, channel] {
                    const Run_channel_scope scope(channel);
                    serve(t);
                });
        } catch (const std::system_error&) {
        } catch (const std::bad_alloc&) {
        }
    }

    Worker_team(const Worker_team&) = delete;
    Worker_team& operator=(const Worker_team&) = delete;

    ~Worker_team()
    {
        {
            const std::lock_guard<std::mutex> hold(mutex);
            stop = true;
        }
        start.notify_all();
        for (std::thread& th : threads) th.join();
    }

    int size() const { return static_cast<int>(threads.size()) + 1; }

    // Calls body(t) for every worker t, 0 to size() - 1, and returns when all
    // have returned. The body must not throw.
    void run(const std::function<void(int)>& body)
    {
        {
            const std::lock_guard<std::mutex> hold(mutex);
            task = &body;
            pending = static_cast<int>(threads.size());
            ++generation;
        }
        start.notify_all();
        body(0);
        std::unique_lock<std::mutex> hold(mutex);
        done.wait(hold, [this] { return pending == 0; });
        task = nullptr;
    }

  private:
    void serve(int t)
    {
        std::uint64_t seen = 0;
        for (;;) {
            const std::function<void(int)>* body = nullptr;
            {
                std::unique_lock<std::mutex> hold(mutex);
                start.wait(hold, [&] { return stop || generation != seen; });
                if (stop) return;
                seen = generation;
                body = task;
            }
            (*body)(t);
            const std::lock_guard<std::mutex> hold(mutex);
            if (--pending == 0) done.notify_one();
        }
    }

    std::mutex mutex;
    std::condition_variable start;
    std::condition_variable done;
    const std::function<void(int)>* task = nullptr;
    std::uint64_t generation = 0;
    int pending = 0;
    bool stop = false;
    std::vector<std::thread> threads;
};

// Splits lines 0 .. nb_lig - 1 of a grid of nb_lig x nb_col pixels into one
// contiguous band per worker and runs band(first, end) for each, lines first
// to end - 1.
template <typename Band> void for_line_bands(int nb_lig, int nb_col, Band&& band)
{
    const int workers =
        std::min(worker_count(static_cast<std::int64_t>(nb_lig) * nb_col), std::max(nb_lig, 1));
    run_workers(workers, [&](int t) {
        const auto split = [&](int k) {
            return static_cast<int>(static_cast<std::int64_t>(nb_lig) * k / workers);
        };
        band(split(t), split(t + 1));
    });
}

// The progress lines of a stage whose lines are finished by several workers
// in any order: the text due before line l goes out once every line before l
// is finished, so the console shows the lines of the one-thread sweep, in its
// order.
struct Line_progress {
    // announce(l) prints whatever the sweep prints before line l, if anything.
    Line_progress(int nb_lig, void (*announce)(int l))
        : done(static_cast<std::size_t>(nb_lig), 0), announce(announce)
    {
        advance();
    }

    // Records that line l is finished. Safe to call from any worker.
    void finish(int l)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        done[static_cast<std::size_t>(l)] = 1;
        advance();
    }

  private:
    void advance()
    {
        const int nb_lig = static_cast<int>(done.size());
        while (finished < nb_lig && done[static_cast<std::size_t>(finished)]) ++finished;
        for (; announced <= finished && announced < nb_lig; ++announced) announce(announced);
    }

    std::mutex mutex;
    std::vector<char> done;
    void (*announce)(int l);
    int finished = 0;  // lines 0 .. finished - 1 are all finished
    int announced = 0; // the text due before lines 0 .. announced - 1 is out
};
