// Element-wise assignment of expression trees, arrays and scalars into the
// existing storage of an array.
#ifndef ORV_EVALUATE_H
#define ORV_EVALUATE_H

#include <cstdint>
#include <string>

#include "orv/MArray.h"

namespace orv {

namespace detail {

// Every leaf of the tree must have the reference lengths in every dimension.
template <int N>
struct LengthCheck {
    explicit LengthCheck(const int *reference) : want(reference) {}
    void operator()(const void *, std::size_t, const index_t *, const int *length, bool)
    {
        if (bad != nullptr)
            return;
        for (int d = 0; d < N; ++d)
            if (length[d] != want[d]) {
                bad = length;
                return;
            }
    }
    const int *want;
    const int *bad = nullptr;
};

template <class T, int N, class E>
void checkAssignment(const MArray<T, N> &dest, const E &e)
{
    if (dest.memoryBlock() == nullptr)
        raise("Assignment to an array without storage");
    LengthCheck<N> check(dest.shape()->length);
    e.visitLeaves(check);
    if (check.bad != nullptr)
        raiseLengths("Assignment of an operand of lengths ", check.bad, " to an array of lengths ",
                     dest.shape()->length, N);
}

// Lowest and one-past-highest byte address touched by a walk; empty when
// hi == lo.
struct ByteSpan {
    std::uintptr_t lo = 0;
    std::uintptr_t hi = 0;
};

template <int N>
ByteSpan spanOf(const void *first, std::size_t size, const index_t *stride, const int *length)
{
    ByteSpan s;
    if (first == nullptr)
        return s;
    index_t lo = 0;
    index_t hi = 0;
    for (int d = 0; d < N; ++d) {
        if (length[d] == 0)
            return s;
        index_t reach = stride[d] * (length[d] - 1);
        (reach < 0 ? lo : hi) += reach;
    }
    const std::uintptr_t base = reinterpret_cast<std::uintptr_t>(first);
    s.lo = base + static_cast<std::uintptr_t>(lo * static_cast<index_t>(size));
    s.hi = base + static_cast<std::uintptr_t>(hi * static_cast<index_t>(size)) + size;
    return s;
}

// True when some array leaf shares memory with the destination without
// standing on exactly the destination's elements: writing in place could
// then change a value before it is read.
template <int N>
struct OverlapCheck {
    OverlapCheck(const void *first, std::size_t size, const index_t *stride, const int *length)
        : destFirst(first), destSize(size), destStride(stride),
          dest(spanOf<N>(first, size, stride, length))
    {
    }

    void operator()(const void *first, std::size_t size, const index_t *stride, const int *length,
                    bool isArray)
    {
        if (!isArray || overlap || dest.hi == dest.lo)
            return;
        ByteSpan s = spanOf<N>(first, size, stride, length);
        if (s.hi == s.lo || s.hi <= dest.lo || dest.hi <= s.lo)
            return;
        bool same = first == destFirst && size == destSize;
        for (int d = 0; d < N && same; ++d)
            if (length[d] > 1 && stride[d] != destStride[d])
                same = false;
        if (!same)
            overlap = true;
    }

    const void *destFirst;
    std::size_t destSize;
    const index_t *destStride;
    ByteSpan dest;
    bool overlap = false;
};

// One loop over all elements: the destination and every array leaf are each
// one arithmetic progression with the step of their dimension-1 stride.
template <class T, int N, class E>
void loopFlat(MArray<T, N> &dest, E e)
{
    const index_t n = dest.elementCount();
    if (n == 0)
        return;
    T *const p = dest.dataFirst();
    const index_t s = dest.stride(1);
    if (s == 1 && e.isUnitStride()) {
        ORV_NO_CARRIED_DEPENDENCE
        for (index_t k = 0; k < n; ++k)
            p[k] = static_cast<T>(e.valueAtUnitStride(k));
    } else {
        ORV_NO_CARRIED_DEPENDENCE
        for (index_t k = 0; k < n; ++k)
            p[k * s] = static_cast<T>(e.valueAt(k));
    }
}

// Run by run along dimension 1; serves every geometry.
template <class T, int N, class E>
void loopRuns(MArray<T, N> &dest, E e)
{
    if (dest.elementCount() == 0)
        return;
    MArrayIter<T, N> it(dest);
    const index_t len = dest.length(1);
    const index_t s = dest.stride(1);
    if (s == 1 && e.isUnitStride()) {
        for (;;) {
            T *const p = it.current;
            ORV_NO_CARRIED_DEPENDENCE
            for (index_t k = 0; k < len; ++k)
                p[k] = static_cast<T>(e.valueAtUnitStride(k));
            it.advanceDim();
            if (it.current == nullptr)
                break;
            e.advanceDim();
        }
    } else {
        for (;;) {
            T *const p = it.current;
            ORV_NO_CARRIED_DEPENDENCE
            for (index_t k = 0; k < len; ++k)
                p[k * s] = static_cast<T>(e.valueAt(k));
            it.advanceDim();
            if (it.current == nullptr)
                break;
            e.advanceDim();
        }
    }
}

template <class T, int N, class E>
bool flatWalkFits(const MArray<T, N> &dest, const E &e)
{
    return !E::hasIndex && (N == 1 || (dest.isStorageContiguous() && e.isStorageContiguous()));
}

enum class Walk { choose, flat, runs };

template <class T, int N, class E>
void evaluate(MArray<T, N> &dest, const E &e, Walk walk)
{
    checkAssignment(dest, e);
    OverlapCheck<N> overlap(dest.dataFirst(), sizeof(T), dest.shape()->stride,
                            dest.shape()->length);
    e.visitLeaves(overlap);
    if (overlap.overlap) {
        // As if the operands were read completely before the first store.
        MArray<T, N> copy(dest.shape());
        evaluate(copy, e, walk);
        evaluate(dest, TExpr<MArrayIterConst<T, N>, N>(MArrayIterConst<T, N>(copy)), Walk::choose);
        return;
    }
    if (walk != Walk::runs && flatWalkFits(dest, e))
        loopFlat(dest, e);
    else
        loopRuns(dest, e);
}

// Assignment of a tree: the walk is chosen once per statement.
template <class T, int N, class E>
void assign(MArray<T, N> &dest, const TExpr<E, N> &e)
{
    evaluate(dest, e, Walk::choose);
}

} // namespace detail

// The three evaluators. Each refuses a destination without storage and
// operands of other lengths with RangeException, and copies the operands
// first when they overlap the destination at other positions. The one-loop
// evaluator walks run by run where one loop would not fit the geometry.
template <class T, int N, class E>
void eval_assign_expr_1(MArray<T, N> &dest, TExpr<E, N> &e)
{
    detail::evaluate(dest, e, detail::Walk::flat);
}

template <class T, int N, class E>
void eval_assign_expr_N(MArray<T, N> &dest, TExpr<E, N> &e)
{
    detail::evaluate(dest, e, detail::Walk::runs);
}

// Trees with index leaves: dest(i, ...) receives the tree's value at the
// indices (i, ...) of the array the leaves walk.
template <class T, int N, class E>
void eval_with_index_iter(MArray<T, N> &dest, TExpr<E, N> &e)
{
    detail::evaluate(dest, e, detail::Walk::runs);
}

} // namespace orv

#endif
