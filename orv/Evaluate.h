// Element-wise assignment of expression trees, arrays and scalars into the
// existing storage of an array.
#ifndef ORV_EVALUATE_H
#define ORV_EVALUATE_H

#include <cstdint>
#include <string>

#include "orv/MArray.h"

namespace orv {

namespace detail {

// Every leaf of the tree must have the reference lengths in every dimension;
// without a reference, the first leaf's lengths are the reference.
template <int N>
struct LengthCheck {
    explicit LengthCheck(const int *reference = nullptr) : want(reference) {}
    void operator()(const void *, std::size_t, const index_t *, const int *length, bool)
    {
        if (want == nullptr) {
            want = length;
            return;
        }
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

// Stores the tree's values k = 0..len-1 along dimension 1 at p[k * s]; on the
// unit-stride path s is 1.
template <bool Unit, class T, class E>
ORV_INLINE void storeRun(T *const p, index_t s, const E &e, index_t len)
{
    const index_t step = Unit ? 1 : s;
    ORV_NO_CARRIED_DEPENDENCE
    for (index_t k = 0; k < len; ++k)
        p[k * step] = static_cast<T>(valueAtStep<Unit>(e, k));
}

// Flat: one loop over all elements, the destination and every array leaf
// each one arithmetic progression with the step of their dimension-1 stride.
// Else run by run along dimension 1, which serves every geometry; the tree is
// taken by value, as that walk moves its leaves.
template <bool Unit, class T, int N, class E>
void store(MArray<T, N> &dest, E e, bool flat)
{
    const index_t s = dest.stride(1);
    if (flat) {
        storeRun<Unit>(dest.dataFirst(), s, e, dest.elementCount());
        return;
    }
    MArrayIter<T, N> it(dest);
    const index_t len = dest.length(1);
    for (;;) {
        storeRun<Unit>(it.current, s, e, len);
        it.advanceDim();
        if (it.current == nullptr)
            return;
        e.advanceDim();
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
    if (dest.elementCount() == 0)
        return;
    const bool flat = walk != Walk::runs && flatWalkFits(dest, e);
    if (dest.stride(1) == 1 && e.isUnitStride())
        store<true>(dest, e, flat);
    else
        store<false>(dest, e, flat);
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
