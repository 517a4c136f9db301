#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <new>
#include <type_traits>

namespace quillon {

// A bounded queue between exactly one producer thread and one consumer
// thread. Neither side blocks or allocates: the slots are made once, a push
// into a full ring fails and a pop from an empty one finds nothing. The
// slots are left untouched until used, so a large ring costs nothing until
// events flow.
template <typename T, std::size_t Capacity> class SpscRing {
    static_assert(Capacity > 0 && (Capacity & (Capacity - 1)) == 0, "capacity must be a power of two");
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>,
                  "values are copied in and out of raw slots");

public:
    SpscRing() : slots_(new Slot[Capacity]) {}

    // Producer side.
    bool Push(const T& value)
    {
        const std::size_t tail = tail_.load(std::memory_order_relaxed);
        if (tail - head_.load(std::memory_order_acquire) == Capacity) {
            return false;
        }
        ::new (static_cast<void*>(slots_[tail & (Capacity - 1)].bytes)) T(value);
        tail_.store(tail + 1, std::memory_order_release);
        return true;
    }

    // Producer side: how many wait, at least.
    std::size_t Queued() const { return tail_.load(std::memory_order_relaxed) - head_.load(std::memory_order_acquire); }

    // Consumer side.
    bool Pop(T& value)
    {
        const std::size_t head = head_.load(std::memory_order_relaxed);
        if (head == tail_.load(std::memory_order_acquire)) {
            return false;
        }
        value = *std::launder(reinterpret_cast<const T*>(slots_[head & (Capacity - 1)].bytes));
        head_.store(head + 1, std::memory_order_release);
        return true;
    }

    bool Empty() const { return head_.load(std::memory_order_acquire) == tail_.load(std::memory_order_acquire); }

private:
    struct Slot {
        alignas(T) std::byte bytes[sizeof(T)];
    };
    std::unique_ptr<Slot[]> slots_;
    std::atomic<std::size_t> head_{0};
    std::atomic<std::size_t> tail_{0};
};

} // namespace quillon
