#pragma once

#include <atomic>
#include <cstddef>
#include <memory>

namespace quillon {

// A bounded queue between exactly one producer thread and one consumer
// thread. Neither side blocks or allocates: the slots are made once, a push
// into a full ring fails and a pop from an empty one finds nothing.
template <typename T, std::size_t Capacity> class SpscRing {
    static_assert(Capacity > 0 && (Capacity & (Capacity - 1)) == 0, "capacity must be a power of two");

public:
    SpscRing() : slots_(std::make_unique<T[]>(Capacity)) {}

    // Producer side.
    bool Push(const T& value)
    {
        const std::size_t tail = tail_.load(std::memory_order_relaxed);
        if (tail - head_.load(std::memory_order_acquire) == Capacity) {
            return false;
        }
        slots_[tail & (Capacity - 1)] = value;
        tail_.store(tail + 1, std::memory_order_release);
        return true;
    }

    // Consumer side.
    bool Pop(T& value)
    {
        const std::size_t head = head_.load(std::memory_order_relaxed);
        if (head == tail_.load(std::memory_order_acquire)) {
            return false;
        }
        value = slots_[head & (Capacity - 1)];
        head_.store(head + 1, std::memory_order_release);
        return true;
    }

    bool Empty() const { return head_.load(std::memory_order_acquire) == tail_.load(std::memory_order_acquire); }

private:
    std::unique_ptr<T[]> slots_;
    std::atomic<std::size_t> head_{0};
    std::atomic<std::size_t> tail_{0};
};

} // namespace quillon
