// A first-in first-out queue of pixel indices (line * nb_col + column) in a
// buffer of fixed capacity that wraps around: the frontier lists of the
// dilation and of the gap filling, which never hold more distinct pixels than
// the grid has, live in one buffer of one int per pixel.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <vector>

struct Pixel_ring {
    std::vector<std::int32_t> slots;
    std::size_t head = 0; // slot of the oldest entry
    std::size_t size = 0; // entries held, from head on

    // Empties the queue and gives it room for `capacity` entries.
    void reset(std::size_t capacity)
    {
        slots.assign(capacity, 0);
        head = 0;
        size = 0;
    }

    // The slot `slot` stands for, once past the end of the buffer; valid for
    // slot < 2 * capacity.
    std::size_t wrap(std::size_t slot) const
    {
        return slot >= slots.size() ? slot - slots.size() : slot;
    }

    bool empty() const { return size == 0; }

    void push(std::int32_t p)
    {
        assert(size < slots.size());
        slots[wrap(head + size)] = p;
        ++size;
    }

    std::int32_t front() const { return slots[head]; }

    std::int32_t pop()
    {
        const std::int32_t p = slots[head];
        head = wrap(head + 1);
        --size;
        return p;
    }
};
