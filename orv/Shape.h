// The index geometry of an array.
#ifndef ORV_SHAPE_H
#define ORV_SHAPE_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "orv/RangeException.h"

namespace orv {

// Element counts, strides and offsets are 64-bit so that arrays of more than
// 2^31 elements are addressed correctly.
using index_t = std::ptrdiff_t;

// For the small functions on the path of every view and reduction: windows
// of a few pixels are reduced millions of times.
#define ORV_INLINE inline __attribute__((always_inline))

// Placed before the element loops of an assignment. The evaluator copies any
// operand that overlaps the destination at other positions first, so the only
// sharing left is an operand standing on exactly the destination's elements
// (image = image - sky): no value flows from one iteration to another. The
// compiler cannot see that and would otherwise test the pointers at run time
// and, finding them equal, take its scalar fallback loop.
#if defined(__clang__)
#define ORV_NO_CARRIED_DEPENDENCE _Pragma("clang loop vectorize(assume_safety)")
#elif defined(__GNUC__)
#define ORV_NO_CARRIED_DEPENDENCE _Pragma("GCC ivdep")
#else
#define ORV_NO_CARRIED_DEPENDENCE
#endif

namespace detail {
// Selects the constructor of a shape that its maker fills in completely.
struct Unset {};
} // namespace detail

template <int N>
struct Shape {
    static_assert(N >= 1, "an array has at least one dimension");

    // Bases 1, lengths 0: the geometry of an array without storage.
    Shape() : zeroOffset(0), contiguous(true), nelements(0)
    {
        for (int d = 0; d < N; ++d) {
            base[d] = 1;
            length[d] = 0;
            stride[d] = d == 0 ? 1 : 0;
        }
    }
    // Every field left for the maker to set: views are made millions of times.
    explicit Shape(detail::Unset) {}

    // Minus the sum over all dimensions of base * stride.
    index_t zeroOffset;
    int base[N];
    int length[N];
    index_t stride[N];
    // True when the elements form one arithmetic progression in memory with
    // the step stride[0]; always true in one dimension.
    bool contiguous;
    index_t nelements;

    int lastIndex(int d) const { return base[d] + length[d] - 1; }

    // Lays out fresh storage over the current bases and lengths, dimension 1
    // fastest. Refuses negative lengths and counts above maxElements or whose
    // offsets do not fit into index_t.
    void setFresh(index_t maxElements)
    {
        index_t n = 1;
        for (int d = 0; d < N; ++d) {
            if (length[d] < 0)
                detail::raise("Array length " + std::to_string(length[d]) + " is negative");
            if (__builtin_mul_overflow(n, static_cast<index_t>(length[d]), &n) || n > maxElements)
                detail::raise("Array element count overflows");
        }
        index_t s = 1;
        for (int d = 0; d < N; ++d) {
            stride[d] = s;
            s *= length[d] == 0 ? 1 : length[d]; // bounded by n, cannot overflow
        }
        nelements = n;
        contiguous = true;
        index_t z = 0;
        for (int d = 0; d < N; ++d) {
            index_t lo, hi;
            if (__builtin_mul_overflow(static_cast<index_t>(base[d]), stride[d], &lo) ||
                __builtin_mul_overflow(static_cast<index_t>(lastIndex(d)), stride[d], &hi) ||
                __builtin_sub_overflow(z, lo, &z))
                detail::raise("Array index range overflows the address range");
        }
        zeroOffset = z;
    }

    // Recomputes offset, count and contiguity after bases, lengths or strides
    // of a view have changed (a view never reaches beyond its source, so
    // nothing here can overflow).
    void recompute()
    {
        index_t n = 1;
        index_t z = 0;
        bool c = true;
        for (int d = 0; d < N; ++d) {
            n *= length[d];
            z -= base[d] * stride[d];
            if (d + 1 < N && stride[d] * length[d] != stride[d + 1])
                c = false;
        }
        nelements = n;
        zeroOffset = z;
        contiguous = c;
    }
};

} // namespace orv

#endif
