// Iterators over the elements of an array, dimension 1 fastest, run by run.
#ifndef ORV_MARRAYITER_H
#define ORV_MARRAYITER_H

#include <cstddef>
#include <iterator>

#include "orv/Shape.h"

namespace orv {

template <class T, int N>
class MArray;

namespace detail {

// State shared by the read and the write iterator; P is const T* or T*.
template <class P, int N>
struct IterState {
    IterState() : current(nullptr), stride1(0), contiguous(true)
    {
        for (int d = 0; d < N; ++d) {
            runStart[d] = runEnd[d] = nullptr;
            stride[d] = 0;
            length[d] = 0;
        }
    }

    IterState(const Shape<N> &s, P first) : stride1(s.stride[0]), contiguous(s.contiguous)
    {
        // An empty array starts at its end.
        bool empty = s.nelements == 0;
        current = empty ? nullptr : first;
        for (int d = 0; d < N; ++d) {
            stride[d] = s.stride[d];
            length[d] = s.length[d];
            runStart[d] = current;
            runEnd[d] = empty ? nullptr : first + stride[d] * length[d];
        }
    }

    // The position after the last element: null in two or more dimensions, one
    // stride past the last element in one dimension.
    void toEnd()
    {
        if (N >= 2 || current == nullptr)
            current = nullptr;
        else
            current = runStart[0] + stride[0] * length[0];
    }

    // Moves to the start of the next run along dimension 1; null at the end.
    void advanceDim()
    {
        if (current == nullptr)
            return;
        for (int j = 1; j < N; ++j) {
            P p = runStart[j] + stride[j];
            if (p != runEnd[j]) {
                current = p;
                runStart[j] = p;
                for (int k = j - 1; k >= 0; --k) {
                    runStart[k] = p;
                    runEnd[k] = p + stride[k] * length[k];
                }
                return;
            }
        }
        current = nullptr;
    }

    void increment()
    {
        current += stride1;
        if (N >= 2 && current == runEnd[0])
            advanceDim();
    }

    P current;
    P runStart[N];
    P runEnd[N];
    index_t stride[N];
    int length[N];
    index_t stride1;
    // The array's contiguity flag, copied so that the iterator does not depend
    // on the array object (a view may be a temporary over longer-lived storage).
    bool contiguous;
};

} // namespace detail

// Read iterator; also the leaf of an expression tree that stands for an array.
template <class T, int N>
class MArrayIterConst : public detail::IterState<const T *, N> {
    using Base = detail::IterState<const T *, N>;

public:
    using value_type = T;
    using difference_type = std::ptrdiff_t;
    using pointer = const T *;
    using reference = const T &;
    using iterator_category = std::forward_iterator_tag;
    static constexpr bool hasIndex = false;
    // Every position of the traversal is an element of the array.
    static constexpr bool speculable = true;

    MArrayIterConst() = default;
    explicit MArrayIterConst(const MArray<T, N> &a) : Base(*a.shape(), a.dataFirst()) {}
    static MArrayIterConst end(const MArray<T, N> &a)
    {
        MArrayIterConst it(a);
        it.toEnd();
        return it;
    }

    const T &operator*() const { return *this->current; }
    const T *operator->() const { return this->current; }
    MArrayIterConst &operator++()
    {
        this->increment();
        return *this;
    }
    MArrayIterConst operator++(int)
    {
        MArrayIterConst old = *this;
        this->increment();
        return old;
    }
    bool operator==(const MArrayIterConst &o) const { return this->current == o.current; }
    bool operator!=(const MArrayIterConst &o) const { return this->current != o.current; }

    // Expression-leaf interface: the element k steps along dimension 1 from
    // the current position.
    const T &valueAt(index_t k) const { return this->current[k * this->stride1]; }
    const T &valueAtUnitStride(index_t k) const { return this->current[k]; }
    bool isStorageContiguous() const { return this->contiguous; }
    bool isUnitStride() const { return this->stride1 == 1; }
    template <class V>
    void visitLeaves(V &v) const
    {
        v(static_cast<const void *>(this->current), sizeof(T), this->stride, this->length, true);
    }
};

// Write iterator, used to fill arrays (the FITS readers).
template <class T, int N>
class MArrayIter : public detail::IterState<T *, N> {
    using Base = detail::IterState<T *, N>;

public:
    using value_type = T;
    using difference_type = std::ptrdiff_t;
    using pointer = T *;
    using reference = T &;
    using iterator_category = std::forward_iterator_tag;

    MArrayIter() = default;
    explicit MArrayIter(MArray<T, N> &a) : Base(*a.shape(), a.dataFirst()) {}
    static MArrayIter end(MArray<T, N> &a)
    {
        MArrayIter it(a);
        it.toEnd();
        return it;
    }

    T &operator*() const { return *this->current; }
    T *operator->() const { return this->current; }
    MArrayIter &operator++()
    {
        this->increment();
        return *this;
    }
    MArrayIter operator++(int)
    {
        MArrayIter old = *this;
        this->increment();
        return old;
    }
    bool operator==(const MArrayIter &o) const { return this->current == o.current; }
    bool operator!=(const MArrayIter &o) const { return this->current != o.current; }
};

} // namespace orv

#endif
