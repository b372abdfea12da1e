// Reductions of arrays and expression trees to one number, and the exact
// median that skips blank elements.
#ifndef ORV_REDUCE_H
#define ORV_REDUCE_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <type_traits>

#include "orv/Evaluate.h"
#include "orv/MArray.h"

namespace orv {

namespace detail {

// foldValues over runs of len values along dimension 1, the leaves moved on
// between runs.
template <bool Unit, class E, class F>
ORV_INLINE F foldRuns(E &e, F f, index_t len, index_t runs)
{
    for (;;) {
        for (index_t k = 0; k < len; ++k)
            f(valueAtStep<Unit>(e, k));
        if (--runs == 0)
            return f;
        e.advanceDim();
    }
}

// Calls f with every value of the tree in index order, dimension 1 fastest:
// one loop when every leaf is one progression in memory, else run by run.
// f carries the running state and is returned; being a local copy here, its
// state stays in registers instead of going to memory at every element. The
// tree is taken by value: the run-by-run walk moves its leaves. Small windows
// are folded millions of times, so the set-up avoids divisions and copies.
template <int N, class E, class F>
ORV_INLINE F foldValues(E e, F f)
{
    // The first leaf's lengths drive the walk.
    LengthCheck<N> g;
    e.visitLeaves(g);
    if (g.bad != nullptr)
        raiseLengths("Reduction over operands of lengths ", g.want, " and ", g.bad, N);
    if (g.want == nullptr)
        return f;
    const index_t len = g.want[0];
    index_t runs = 1; // along dimension 1
    for (int d = 1; d < N; ++d)
        runs *= g.want[d];
    if (len == 0 || runs == 0)
        return f;
    const bool unit = e.isUnitStride();
    if (!E::hasIndex && (N == 1 || e.isStorageContiguous())) // one run over all values
        return unit ? foldRuns<true>(e, f, len * runs, 1) : foldRuns<false>(e, f, len * runs, 1);
    return unit ? foldRuns<true>(e, f, len, runs) : foldRuns<false>(e, f, len, runs);
}

template <class V>
struct SumFold {
    V total;
    void operator()(const V &v) { total += v; }
};

struct CountFold {
    index_t count = 0;
    void operator()(bool v) { count += v ? 1 : 0; }
};

template <class V>
struct MinFold {
    V least;
    void operator()(const V &v)
    {
        if (v < least)
            least = v;
    }
};

template <class V>
struct MaxFold {
    V most;
    void operator()(const V &v)
    {
        if (v > most)
            most = v;
    }
};

// Copies the values that keep() accepts to out.
template <class T, class Keep>
struct GatherFold {
    T *out;
    index_t n;
    Keep keep;
    void operator()(const T &v)
    {
        if (keep(v))
            out[n++] = v;
    }
};

template <class X>
constexpr int rankOfOperand = traits<X>::rank;

template <class T>
bool isNaN(const T &v)
{
    if constexpr (std::is_floating_point<T>::value)
        return std::isnan(v);
    else
        return false;
}

// Mean of the two middle values, in the element type for floating types.
template <class T>
double midpoint(const T &lower, const T &upper)
{
    if constexpr (std::is_floating_point<T>::value)
        return static_cast<double>((lower + upper) * static_cast<T>(0.5));
    else
        return (static_cast<double>(lower) + static_cast<double>(upper)) * 0.5;
}

// Work space of the median: on the stack for small windows, so that a median
// per bin costs no allocation.
template <class T, bool Small = std::is_arithmetic<T>::value>
class MedianBuffer {
public:
    explicit MedianBuffer(index_t n) : heap_(new T[static_cast<std::size_t>(n)]) {}
    T *data() { return heap_.get(); }

private:
    std::unique_ptr<T[]> heap_;
};

template <class T>
class MedianBuffer<T, true> {
public:
    explicit MedianBuffer(index_t n) : p_(local_)
    {
        if (n > kLocal) {
            heap_.reset(new T[static_cast<std::size_t>(n)]);
            p_ = heap_.get();
        }
    }
    T *data() { return p_; }

private:
    static constexpr index_t kLocal = 4096 / sizeof(T);
    T local_[kLocal];
    std::unique_ptr<T[]> heap_;
    T *p_;
};

// Unsigned integers that sort like the floating-point values they stand
// for (NaN aside): the sign bit set for values from +0 on, every bit
// inverted below.
template <class F>
struct FloatKey {
    using U = std::conditional_t<sizeof(F) == 4, std::uint32_t, std::uint64_t>;
    static constexpr U kSign = U(1) << (sizeof(U) * 8 - 1);
    static U of(F f)
    {
        U u;
        std::memcpy(&u, &f, sizeof u);
        return (u & kSign) ? ~u : (u | kSign);
    }
    static F value(U u)
    {
        u = (u & kSign) ? (u & ~kSign) : ~u;
        F f;
        std::memcpy(&f, &u, sizeof f);
        return f;
    }
};

// The k-th smallest (from 0) of key[0..n), by the digits of the keys from
// the highest: a count per digit value, then only the keys with the digit
// that holds the k-th are kept, in place. key is overwritten.
template <class U>
U selectKey(U *key, index_t n, index_t k)
{
    for (int shift = static_cast<int>(sizeof(U)) * 8 - 8;; shift -= 8) {
        index_t count[256] = {};
        for (index_t i = 0; i < n; ++i)
            ++count[(key[i] >> shift) & 255];
        unsigned digit = 0;
        while (k >= count[digit])
            k -= count[digit++];
        index_t kept = 0;
        for (index_t i = 0; i < n; ++i)
            if (((key[i] >> shift) & 255) == digit)
                key[kept++] = key[i];
        n = kept;
        if (n == 1 || shift == 0)
            return key[0]; // after the last digit the keys left are equal
    }
}

// The median of v[0..n), n > 0, which it may reorder. Floating-point values
// are selected by the digits of their bits, some times quicker than by
// comparisons for the windows of a few hundred pixels that medians are
// taken of; NaN must not be among them.
template <class T>
double middleOf(T *v, index_t n)
{
    const index_t k = n / 2;
    if constexpr (std::is_floating_point<T>::value && (sizeof(T) == 4 || sizeof(T) == 8)) {
        using Key = FloatKey<T>;
        using U = typename Key::U;
        MedianBuffer<U> keys(n);
        for (index_t i = 0; i < n; ++i)
            keys.data()[i] = Key::of(v[i]);
        const U upper = selectKey(keys.data(), n, k);
        if (n % 2 == 1)
            return static_cast<double>(Key::value(upper));
        // The (k-1)-th: the largest key below the k-th, or the k-th itself
        // when fewer than k keys lie below it. One pass over the values
        // instead of a second selection.
        index_t below = 0;
        U lower = 0;
        for (index_t i = 0; i < n; ++i) {
            const U key = Key::of(v[i]);
            if (key < upper) {
                ++below;
                lower = std::max(lower, key);
            }
        }
        return midpoint(Key::value(below == k ? lower : upper), Key::value(upper));
    } else {
        std::nth_element(v, v + k, v + n);
        if (n % 2 == 1)
            return static_cast<double>(v[k]);
        return midpoint(*std::max_element(v, v + k), v[k]);
    }
}

template <class T, int N, class Keep>
double medianWhere(const MArray<T, N> &a, Keep keep, double none)
{
    MedianBuffer<T> buffer(a.elementCount());
    GatherFold<T, Keep> kept =
        foldValues<N>(MArrayIterConst<T, N>(a), GatherFold<T, Keep>{buffer.data(), 0, keep});
    return kept.n == 0 ? none : middleOf(buffer.data(), kept.n);
}

} // namespace detail

// Accumulator of eval_full_reduction_1.
template <class T>
struct sum_reduction {
    T value = T();
    T result() const { return value; }
};

// Sum of all values in index order, in the value type (0 when empty).
template <class X, std::enable_if_t<detail::isOperand<X>, int> = 0>
ORV_INLINE detail::value_t<X> sum(const X &x)
{
    using V = detail::value_t<X>;
    return detail::foldValues<detail::rankOfOperand<X>>(detail::traits<X>::make(x),
                                                        detail::SumFold<V>{V()})
        .total;
}

// Number of elements whose value is true.
template <class X, std::enable_if_t<detail::isOperand<X>, int> = 0>
ORV_INLINE index_t count(const X &x)
{
    return detail::foldValues<detail::rankOfOperand<X>>(detail::traits<X>::make(x),
                                                        detail::CountFold())
        .count;
}

// Smallest value; the largest finite value of the type when empty. NaN never
// replaces the running value.
template <class X, std::enable_if_t<detail::isOperand<X>, int> = 0>
detail::value_t<X> min(const X &x)
{
    using V = detail::value_t<X>;
    return detail::foldValues<detail::rankOfOperand<X>>(
               detail::traits<X>::make(x), detail::MinFold<V>{std::numeric_limits<V>::max()})
        .least;
}

// Largest value; the lowest finite value of the type when empty.
template <class X, std::enable_if_t<detail::isOperand<X>, int> = 0>
detail::value_t<X> max(const X &x)
{
    using V = detail::value_t<X>;
    return detail::foldValues<detail::rankOfOperand<X>>(
               detail::traits<X>::make(x), detail::MaxFold<V>{std::numeric_limits<V>::lowest()})
        .most;
}

// Sum divided by the element count; NaN for an empty array.
template <class T, int N>
double average(const MArray<T, N> &a)
{
    if (a.elementCount() == 0)
        return std::numeric_limits<double>::quiet_NaN();
    return static_cast<double>(sum(a)) / static_cast<double>(a.elementCount());
}

// Adds every value of the tree, in index order, to the accumulator.
template <class E, int N, class T>
void eval_full_reduction_1(const TExpr<E, N> &e, sum_reduction<T> &acc)
{
    acc.value = detail::foldValues<N>(e, detail::SumFold<T>{acc.value}).total;
}

// The order of the exact median: every value that is not the blank marker
// before every blank one, and those in ascending order. The comparisons are
// IEEE ones, so NaN is never blank and never less or greater than a value.
template <class T>
struct less_nan {
    T marker;
    explicit less_nan(const T &marker) : marker(marker) {}
    bool operator()(const T &x, const T &y) const { return x != marker && (y == marker || x < y); }
};

// Exact median of the elements that are neither the blank marker nor NaN:
// the middle one for an odd count, the mean of the two middle ones for an
// even count; the marker when there is none. A NaN marker marks nothing.
template <class T, int N>
double median_exact(const MArray<T, N> &a, const typename detail::identity<T>::type &marker)
{
    return detail::medianWhere(
        a, [&marker](const T &v) { return !(v == marker) && !detail::isNaN(v); },
        static_cast<double>(marker));
}

// Exact median of all elements except NaN; NaN when there is none.
template <class T, int N>
double median_exact(const MArray<T, N> &a)
{
    return detail::medianWhere(
        a, [](const T &v) { return !detail::isNaN(v); }, std::numeric_limits<double>::quiet_NaN());
}

} // namespace orv

#endif
