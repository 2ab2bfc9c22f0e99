// A first-in first-out queue of pixel indices (line * nb_col + column) in a
// buffer of fixed capacity that wraps around: the frontier lists of the gap
// filling, which never hold more distinct pixels than the grid has, live in
// one buffer of one int per pixel.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <memory>

struct Pixel_ring {
    // Left uninitialised: a slot is read only after it is written, and the
    // pages of a large buffer are not touched before they are needed.
    std::unique_ptr<std::int32_t[]> slots;
    std::size_t capacity = 0;
    std::size_t head = 0; // slot of the oldest entry
    std::size_t size = 0; // entries held, from head on

    // Empties the queue and gives it room for `capacity` entries.
    void reset(std::size_t room)
    {
        slots = std::make_unique_for_overwrite<std::int32_t[]>(room);
        capacity = room;
        head = 0;
        size = 0;
    }

    // The slot `slot` stands for, once past the end of the buffer; valid for
    // slot < 2 * capacity.
    std::size_t wrap(std::size_t slot) const { return slot >= capacity ? slot - capacity : slot; }

    bool empty() const { return size == 0; }

    void push(std::int32_t p)
    {
        assert(size < capacity);
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
