#pragma once

#include <atomic>
#include <cstdint>
#include <utility>

// Bytes of request bodies held in memory by all connections together, under one bound, and
// what was given back since the allocator last returned memory to the system.
class BodyBudget {
public:
    explicit BodyBudget(uint64_t bound) : m_bound(bound) {}

    bool reserve(uint64_t bytes) {
        uint64_t held = m_held.load();
        do {
            if (held + bytes > m_bound)
                return false;
        } while (!m_held.compare_exchange_weak(held, held + bytes));
        return true;
    }
    void release(uint64_t bytes) {
        m_held -= bytes;
        freed(bytes);
    }
    // Memory other than bodies that went back to the allocator (a closed connection's buffers).
    void freed(uint64_t bytes) { m_freedSinceTrim += bytes; }
    // True (and counting anew) once enough was freed to be worth returning to the system.
    bool takeTrimDue(uint64_t threshold) {
        if (m_freedSinceTrim.load() < threshold)
            return false;
        m_freedSinceTrim = 0;
        return true;
    }

private:
    uint64_t m_bound;
    std::atomic<uint64_t> m_held{0};
    std::atomic<uint64_t> m_freedSinceTrim{0};
};

// One connection's share of the budget, given back when the body is done with.
class BodyReservation {
public:
    explicit BodyReservation(BodyBudget& budget) : m_budget(budget) {}
    ~BodyReservation() { release(); }
    BodyReservation(const BodyReservation&) = delete;
    BodyReservation& operator=(const BodyReservation&) = delete;

    bool add(uint64_t bytes) {
        if (!m_budget.reserve(bytes))
            return false;
        m_held += bytes;
        return true;
    }
    // Takes over bytes reserved elsewhere (by the handler thread that checked the header).
    void adopt(uint64_t bytes) { m_held += bytes; }
    void release() {
        if (m_held > 0)
            m_budget.release(std::exchange(m_held, 0));
    }

private:
    BodyBudget& m_budget;
    uint64_t m_held = 0;
};
