#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

// Keeps the newest `capacity` values appended, in order, without shifting the
// older ones on every append. Storage is allocated on the first append.
template <typename T>
class RingBuffer {
public:
    explicit RingBuffer(std::size_t capacity)
        : m_capacity(capacity)
    {
    }

    std::size_t capacity() const { return m_capacity; }
    std::size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }

    // Forgets the values but keeps the storage.
    void clear()
    {
        m_start = 0;
        m_size = 0;
    }

    void append(const T *values, std::size_t count)
    {
        if (m_capacity == 0 || count == 0)
            return;
        if (m_storage.size() != m_capacity)
            m_storage.resize(m_capacity);
        if (count >= m_capacity) {
            std::copy_n(values + (count - m_capacity), m_capacity, m_storage.begin());
            m_start = 0;
            m_size = m_capacity;
            return;
        }
        const std::size_t end = (m_start + m_size) % m_capacity;
        const std::size_t firstRun = std::min(count, m_capacity - end);
        std::copy_n(values, firstRun, m_storage.begin() + end);
        std::copy_n(values + firstRun, count - firstRun, m_storage.begin());
        m_size += count;
        if (m_size > m_capacity) {
            m_start = (m_start + (m_size - m_capacity)) % m_capacity;
            m_size = m_capacity;
        }
    }

    // Copies `count` values starting `offset` after the oldest into `out`
    // (offset + count must not exceed size()).
    void copyTo(std::size_t offset, std::size_t count, std::vector<T> &out) const
    {
        out.resize(count);
        if (count == 0)
            return;
        const std::size_t from = (m_start + offset) % m_capacity;
        const std::size_t firstRun = std::min(count, m_capacity - from);
        std::copy_n(m_storage.begin() + from, firstRun, out.begin());
        std::copy_n(m_storage.begin(), count - firstRun, out.begin() + firstRun);
    }

    std::vector<T> toVector() const
    {
        std::vector<T> out;
        copyTo(0, m_size, out);
        return out;
    }

private:
    std::size_t m_capacity;
    std::vector<T> m_storage;
    std::size_t m_start = 0;
    std::size_t m_size = 0;
};
