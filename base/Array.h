// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <type_traits>

// The growable array of the foundation library. It grows by a fixed step
// (growBy) rather than geometrically: callers that append many elements set a
// step or size the array once. Storage comes from array-new, so for class
// types every slot up to the capacity holds a default-constructed object and
// slots beyond the count keep their objects.
//
// Index and range arguments are not checked (callers pass valid ranges); sizes
// are: a request that does not fit in an int fails with std::bad_alloc rather
// than wrapping round to a small allocation.
template <typename T, typename Index = int>
class Array
{
    static_assert(std::is_same<Index, int>::value, "Array is indexed by int");

public:
    Array() = default;

    Array(const Array& other) { assign(other); }

    Array(Array&& other) noexcept
        : m_data(other.m_data), m_capacity(other.m_capacity), m_count(other.m_count),
          m_growBy(other.m_growBy)
    {
        other.m_data = nullptr;
        other.m_capacity = other.m_count = other.m_growBy = 0;
    }

    Array& operator=(const Array& other)
    {
        if (this != &other)
            assign(other);
        return *this;
    }

    Array& operator=(Array&& other) noexcept
    {
        if (this != &other) {
            freeAllMemory();
            std::swap(m_data, other.m_data);
            std::swap(m_capacity, other.m_capacity);
            std::swap(m_count, other.m_count);
            std::swap(m_growBy, other.m_growBy);
        }
        return *this;
    }

    ~Array() { freeAllMemory(); }

    T* data() { return m_data; }
    const T* data() const { return m_data; }
    int count() const { return m_count; }
    int capacity() const { return m_capacity; }
    int growBy() const { return m_growBy; }
    T& operator[](int i) { return m_data[i]; }
    const T& operator[](int i) const { return m_data[i]; }

    // A negative step counts as 0.
    void setGrowBy(int n) { m_growBy = n < 0 ? 0 : n; }

    // Sets the count, growing the storage to count + growBy when the capacity
    // is too small. Never shrinks the storage. A negative count is taken as 0.
    void setCount(int n) { growTo(n < 0 ? 0 : n); }

    // The only place where the storage changes. Capacity may shrink; the count
    // is cut to n when it was larger.
    void reallocate(int n)
    {
        if (n <= 0) {
            delete[] m_data;
            m_data = nullptr;
            m_capacity = m_count = 0;
            return;
        }
        T* fresh = new T[static_cast<size_t>(n)];
        const int keep = std::min(m_count, n);
        moveElements(fresh, m_data, keep);
        delete[] m_data;
        m_data = fresh;
        m_capacity = n;
        if (m_count > n)
            m_count = n;
    }

    void append(const T& x)
    {
        if (m_count == INT_MAX)
            throw std::bad_alloc();
        if (m_count >= m_capacity && isInside(&x)) {
            // x lives in our own storage, which the growth below frees.
            T copyOfX(x);
            growTo(m_count + 1);
            m_data[m_count - 1] = copyOfX;
            return;
        }
        growTo(m_count + 1);
        m_data[m_count - 1] = x;
    }

    // Assigns src's elements to slots 0 .. src.count - 1; the count never
    // shrinks here. Copying an array onto itself does nothing.
    void copy(const Array& src)
    {
        if (src.m_count <= 0 || &src == this)
            return;
        if (src.m_count > m_count)
            growTo(src.m_count);
        copyElements(m_data, src.m_data, src.m_count);
    }

    // Assigns n elements from src to slots pos .. pos + n - 1, growing the
    // count to at least pos + n. src may point into this array.
    void copy(int pos, const T* src, int n)
    {
        if (!src || n <= 0 || pos < 0)
            return;
        if (pos > INT_MAX - n)
            throw std::bad_alloc();
        if (pos + n > m_count) {
            if (pos + n > m_capacity && isInside(src)) {
                Array<T, int> tmp;
                tmp.copy(0, src, n);
                growTo(pos + n);
                copyElements(m_data + pos, tmp.m_data, n);
                return;
            }
            growTo(pos + n);
        }
        copyElements(m_data + pos, src, n);
    }

    // Removes n elements at index; later elements move down.
    void remove(int index, int n)
    {
        if (n <= 0)
            return;
        copyElements(m_data + index, m_data + index + n, m_count - index - n);
        m_count -= n;
    }

    void freeAllMemory() { reallocate(0); }

private:
    void assign(const Array& other)
    {
        if (other.m_count > m_capacity)
            reallocate(other.m_count);
        m_count = other.m_count;
        m_growBy = other.m_growBy;
        copyElements(m_data, other.m_data, other.m_count);
    }

    void growTo(int needed)
    {
        if (needed > m_capacity) {
            if (needed > INT_MAX - m_growBy)
                throw std::bad_alloc();
            reallocate(needed + m_growBy);
        }
        m_count = needed;
    }

    bool isInside(const T* p) const
    {
        return m_data && p >= m_data && p < m_data + m_capacity;
    }

    // Overlap-safe element copy: block move for plain types, element
    // assignment (backwards when the target lies after the source) otherwise.
    static void copyElements(T* dst, const T* src, int n)
    {
        if (n <= 0 || dst == src)
            return;
        if constexpr (std::is_trivially_copyable<T>::value) {
            std::memmove(static_cast<void*>(dst), src, sizeof(T) * static_cast<size_t>(n));
        } else if (dst < src) {
            for (int i = 0; i < n; ++i)
                dst[i] = src[i];
        } else {
            for (int i = n - 1; i >= 0; --i)
                dst[i] = src[i];
        }
    }

    static void moveElements(T* dst, T* src, int n)
    {
        if (n <= 0)
            return;
        if constexpr (std::is_trivially_copyable<T>::value) {
            std::memcpy(static_cast<void*>(dst), src, sizeof(T) * static_cast<size_t>(n));
        } else {
            for (int i = 0; i < n; ++i)
                dst[i] = std::move(src[i]);
        }
    }

    T* m_data = nullptr;
    int m_capacity = 0;
    int m_count = 0;
    int m_growBy = 0;
};
