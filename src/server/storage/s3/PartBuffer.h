#pragma once

#include <sys/mman.h>

#include <cstring>
#include <utility>

// One part of an upload in memory, mapped straight from the system and returned to it when
// done. Parts pass between threads; through malloc each thread's arena would keep the freed
// megabytes, and a server with many connection threads would grow with every upload.
class PartBuffer {
public:
    PartBuffer() = default;
    explicit PartBuffer(size_t capacity) {
        void* p = ::mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p != MAP_FAILED) {
            m_data = static_cast<char*>(p);
            m_capacity = capacity;
        }
    }
    PartBuffer(PartBuffer&& other) noexcept { swap(other); }
    PartBuffer& operator=(PartBuffer&& other) noexcept {
        PartBuffer(std::move(other)).swap(*this);
        return *this;
    }
    ~PartBuffer() {
        if (m_data)
            ::munmap(m_data, m_capacity);
    }

    const char* data() const { return m_data; }
    size_t size() const { return m_size; }
    size_t room() const { return m_capacity - m_size; }
    bool isAllocated() const { return m_data != nullptr; }
    // Copies up to room() bytes; returns how many.
    size_t append(const char* bytes, size_t length) {
        const size_t n = length < room() ? length : room();
        std::memcpy(m_data + m_size, bytes, n);
        m_size += n;
        return n;
    }

private:
    void swap(PartBuffer& other) noexcept {
        std::swap(m_data, other.m_data);
        std::swap(m_size, other.m_size);
        std::swap(m_capacity, other.m_capacity);
    }
    char* m_data = nullptr;
    size_t m_size = 0;
    size_t m_capacity = 0;
};
