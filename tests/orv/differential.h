// Differential test of whole statements: random expression trees over random
// views (bases, windows, steps in both directions, slices, views of views) in
// one to four dimensions, destinations that overlap their operands, and
// reductions over the same trees. The reference is the same tree written over
// plain numbers, evaluated position by position from values read before the
// statement ran; every element of every storage block is compared afterwards.
#ifndef ORV_TESTS_DIFFERENTIAL_H
#define ORV_TESTS_DIFFERENTIAL_H

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "oracle.h"
#include "orv/MArray.h"

namespace difftest {

using orv::index_t;
using orv::MArray;
using orv::Range;

// ---- the scalar twins of the library's functions ---------------------------

template <class X>
constexpr bool arithmetic = std::is_arithmetic<std::decay_t<X>>::value;

template <class C, class T, class F,
          std::enable_if_t<arithmetic<C> && arithmetic<T> && arithmetic<F>, int> = 0>
std::common_type_t<T, F> merge(C c, T t, F f)
{
    using V = std::common_type_t<T, F>;
    return c ? V(t) : V(f);
}
template <class X, std::enable_if_t<arithmetic<X>, int> = 0>
double pow2(X x)
{
    return double(x) * double(x);
}
template <class X, std::enable_if_t<arithmetic<X>, int> = 0>
double fabs(X x)
{
    return std::fabs(double(x));
}
template <class X, std::enable_if_t<arithmetic<X>, int> = 0>
double sqrt(X x)
{
    return std::sqrt(double(x));
}
template <class To, class X, std::enable_if_t<arithmetic<X>, int> = 0>
To cast(X x)
{
    return static_cast<To>(x);
}

// Value type of a tree or of a plain number.
template <class X, class = void>
struct ValueOf {
    using type = std::decay_t<X>;
};
template <class X>
struct ValueOf<X, std::enable_if_t<orv::detail::isOperand<X>>> {
    using type = orv::detail::value_t<X>;
};
template <class X>
using value_of = typename ValueOf<X>::type;

// ---- random trees, fixed at compile time by a seed -------------------------

constexpr unsigned mix(unsigned x)
{
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}

// The leaves of a tree: three operands (double, float and int arrays, or
// their values at one position) and the index along a dimension.
template <class A, class B, class C, class I>
struct Leaves {
    const A &a;
    const B &b;
    const C &c;
    I index; // index(d): the index leaf along dimension d, or its value
};
template <int K, class L>
decltype(auto) operand(const L &l)
{
    if constexpr (K == 0)
        return (l.a);
    else if constexpr (K == 1)
        return (l.b);
    else
        return (l.c);
}

// Inner kinds: + - * / == != < > || merge pow2 fabs sqrt cast<float>
// cast<double>. Leaf kinds: the three operands (0-2, again 6-8), the
// literals 2, 0.5f and -1.0 (3-5), and an index leaf (9).
template <unsigned S, int Depth, int N>
struct Tree {
    static constexpr unsigned h = mix(S);
    static constexpr bool leaf = Depth == 0 || h % 5 == 0;
    static constexpr unsigned kind = (h >> 4) % (leaf ? 10 : 15);
    static constexpr int indexDim = int((h >> 12) % N) + 1;
    using L = Tree<mix(S ^ 0x9e3779b9U), Depth ? Depth - 1 : 0, N>;
    using R = Tree<mix(S + 0x7f4a7c15U), Depth ? Depth - 1 : 0, N>;
    using F = Tree<mix(S * 3U + 11U), Depth ? Depth - 1 : 0, N>;

    static constexpr bool hasOperand()
    {
        if constexpr (leaf)
            return kind < 3 || kind >= 6;
        else if constexpr (kind >= 10)
            return L::hasOperand();
        else if constexpr (kind == 9)
            return true; // the condition is made to hold an operand
        else
            return L::hasOperand() || R::hasOperand();
    }
    template <class Ls>
    static decltype(auto) build(const Ls &x)
    {
        if constexpr (leaf) {
            if constexpr (kind < 3)
                return operand<int(kind)>(x);
            else if constexpr (kind == 3)
                return 2;
            else if constexpr (kind == 4)
                return 0.5f;
            else if constexpr (kind == 5)
                return -1.0;
            else if constexpr (kind < 9)
                return operand<int(kind) - 6>(x);
            else
                return x.index(indexDim);
        } else {
            auto &&l = L::build(x);
            if constexpr (kind >= 10) {
                if constexpr (kind == 10)
                    return pow2(l);
                else if constexpr (kind == 11)
                    return fabs(l);
                else if constexpr (kind == 12)
                    return sqrt(l);
                else if constexpr (kind == 13)
                    return cast<float>(l);
                else
                    return cast<double>(l);
            } else if constexpr (kind == 9) {
                auto &&t = R::build(x);
                auto &&f = F::build(x);
                if constexpr (L::hasOperand())
                    return merge(l, t, f);
                else
                    return merge(x.a != l, t, f);
            } else {
                auto &&r = R::build(x);
                if constexpr (kind == 0)
                    return l + r;
                else if constexpr (kind == 1)
                    return l - r;
                else if constexpr (kind == 2)
                    return l * r;
                else if constexpr (kind == 3) {
                    // No integer division by zero.
                    if constexpr (std::is_integral<value_of<decltype(r)>>::value)
                        return l / (r + 0.5);
                    else
                        return l / r;
                } else if constexpr (kind == 4)
                    return l == r;
                else if constexpr (kind == 5)
                    return l != r;
                else if constexpr (kind == 6)
                    return l < r;
                else if constexpr (kind == 7)
                    return l > r;
                else
                    return l || r;
            }
        }
    }
};

// ---- positions and element access ------------------------------------------

template <int N>
using Index = std::array<int, N>;

// The index tuple of traversal position p (dimension 1 fastest).
template <class T, int N>
Index<N> indexAt(const MArray<T, N> &a, index_t p)
{
    Index<N> i;
    for (int d = 1; d <= N; ++d) {
        i[d - 1] = a.firstIndex(d) + int(p % a.length(d));
        p /= a.length(d);
    }
    return i;
}

template <class T, int N>
T &at(const MArray<T, N> &a, const std::common_type_t<Index<N>> &i)
{
    return std::apply([&](auto... k) -> T & { return const_cast<MArray<T, N> &>(a)(k...); }, i);
}
template <class T, int N>
T &at(const MArray<T, N> &a, index_t p)
{
    return at(a, indexAt(a, p));
}

using oracle::same; // NaN matches NaN

// ---- random views ------------------------------------------------------------

// A view with its whole storage block, which starts random.
template <class T, int N>
struct View {
    MArray<T, N> a;
    T *block = nullptr;
    index_t blockCount = 0;
};

// Range of `want` indices, with a random step, inside a dimension of `have`
// indices from `base`.
inline Range pickRange(std::mt19937 &rng, int base, int have, int want)
{
    static const int steps[] = {1, 1, 1, 2, 3, -1, -2};
    int s;
    do
        s = steps[std::uniform_int_distribution<int>(0, 6)(rng)];
    while ((want - 1) * std::abs(s) + 1 > have && want > 0);
    if (want == 0) {
        int f = base + (have > 0 ? std::uniform_int_distribution<int>(0, have - 1)(rng) : 0);
        return Range(f, f - s, s);
    }
    if (want == have && s == 1 && rng() % 2)
        return Range::all();
    const int span = (want - 1) * std::abs(s) + 1;
    const int first =
        base + std::uniform_int_distribution<int>(0, have - span)(rng) + (s < 0 ? span - 1 : 0);
    return Range(first, first + (want - 1) * s, s);
}

template <class T, int N, std::size_t... D>
MArray<T, N> makeFresh(const int (&lo)[N], const int (&len)[N], std::index_sequence<D...>)
{
    return MArray<T, N>(Range(lo[D], lo[D] + len[D] - 1)...);
}

template <class T, int M, std::size_t... D>
MArray<T, M> windowOf(const MArray<T, M> &p, const Range (&r)[M], std::index_sequence<D...>)
{
    return p(r[D]...);
}

template <class T, int M>
void randomiseBlock(const MArray<T, M> &p, std::mt19937 &rng)
{
    T *b = p.memoryBlock()->data;
    oracle::Values<T> value{rng}; // blanks, NaN, a few fixed values
    for (index_t k = 0; k < p.elementCount(); ++k)
        b[k] = value();
}

// A parent of the given lengths with random bases, every element random.
template <class T, int M>
MArray<T, M> parent(std::mt19937 &rng, const int (&len)[M])
{
    int lo[M];
    for (int d = 0; d < M; ++d)
        lo[d] = std::uniform_int_distribution<int>(-3, 3)(rng);
    MArray<T, M> p = makeFresh<T, M>(lo, len, std::make_index_sequence<M>());
    randomiseBlock(p, rng);
    return p;
}

// A window of `want` lengths with random steps inside p.
template <class T, int M>
MArray<T, M> randomWindow(std::mt19937 &rng, const MArray<T, M> &p, const int (&want)[M])
{
    Range r[M];
    for (int d = 0; d < M; ++d)
        r[d] = pickRange(rng, p.firstIndex(d + 1), p.length(d + 1), want[d]);
    return windowOf(p, r, std::make_index_sequence<M>());
}

enum class Kind { fresh, window, nested, slice, setrange, count };

// Lengths of a parent for a window of `len`: the same (whole dimensions,
// perhaps reversed), twice along dimension 1 (contiguous with a step), or
// room for steps and shifts everywhere.
template <int N>
void roomFor(std::mt19937 &rng, const int (&len)[N], int (&room)[N])
{
    const unsigned mode = rng() % 3;
    for (int d = 0; d < N; ++d)
        room[d] = mode == 0 ? len[d] : mode == 1 ? (d == 0 ? 2 * len[d] : len[d]) : 3 * len[d] + 2;
}

template <bool Fix, class Pick>
auto pickOrFix(Pick &pick, int d, int fixed)
{
    if constexpr (Fix)
        return fixed;
    else
        return pick(d);
}

template <class T, int N, int Q, class Pick, std::size_t... D>
MArray<T, N> sliceArgs(const MArray<T, N + 1> &p, Pick &pick, int fixed, std::index_sequence<D...>)
{
    // Braces fix the order of the random choices.
    std::tuple<std::conditional_t<D == Q, int, Range>...> args{
        pickOrFix<D == Q>(pick, int(D), fixed)...};
    return std::apply([&](const auto &...x) { return MArray<T, N>(p, x...); }, args);
}

// A slice of p: dimension Q (from 0) fixed at a random index.
template <class T, int N, int Q>
MArray<T, N> sliceAt(std::mt19937 &rng, const MArray<T, N + 1> &p, const int (&len)[N])
{
    if constexpr (Q > N) {
        return MArray<T, N>();
    } else {
        auto pick = [&](int d) {
            return pickRange(rng, p.firstIndex(d + 1), p.length(d + 1), len[d < Q ? d : d - 1]);
        };
        const int fixed =
            p.firstIndex(Q + 1) + std::uniform_int_distribution<int>(0, p.length(Q + 1) - 1)(rng);
        return sliceArgs<T, N, Q>(p, pick, fixed, std::make_index_sequence<N + 1>());
    }
}

// a as the slice of p whose fixed dimension q (0 .. N) is chosen at run time.
template <class T, int N, int... Q>
void takeSliceAt(MArray<T, N> &a, int q, std::mt19937 &rng, const MArray<T, N + 1> &p,
                 const int (&len)[N], std::integer_sequence<int, Q...>)
{
    static_cast<void>(((q == Q && (a.makeReference(sliceAt<T, N, Q>(rng, p, len)), true)) || ...));
}

template <class T, int N>
View<T, N> makeView(std::mt19937 &rng, Kind kind, const int (&len)[N])
{
    View<T, N> v;
    auto keep = [&](const auto &p) {
        v.block = p.memoryBlock()->data;
        v.blockCount = p.elementCount();
    };
    int room[N];
    roomFor(rng, len, room);
    switch (kind) {
    case Kind::fresh: {
        v.a.makeReference(parent<T, N>(rng, len));
        keep(v.a);
        break;
    }
    case Kind::window: {
        MArray<T, N> p = parent<T, N>(rng, room);
        keep(p);
        v.a.makeReference(randomWindow(rng, p, len));
        break;
    }
    case Kind::nested: { // a window of a window
        int mid[N];
        for (int d = 0; d < N; ++d)
            mid[d] = len[d] + 1 + int(rng() % 2);
        roomFor(rng, mid, room);
        MArray<T, N> p = parent<T, N>(rng, room);
        keep(p);
        MArray<T, N> w = randomWindow(rng, p, mid);
        v.a.makeReference(randomWindow(rng, w, len));
        break;
    }
    case Kind::slice: {
        int wide[N + 1];
        const int q = int(rng() % (N + 1));
        for (int d = 0, k = 0; d <= N; ++d)
            wide[d] = d == q ? 1 + int(rng() % 3) : len[k++] + int(rng() % 3);
        MArray<T, N + 1> p = parent<T, N + 1>(rng, wide);
        keep(p);
        takeSliceAt<T, N>(v.a, q, rng, p, len, std::make_integer_sequence<int, N + 1>());
        break;
    }
    default: { // setrange on a copy of the parent, dimension by dimension
        MArray<T, N> p = parent<T, N>(rng, room);
        keep(p);
        v.a.makeReference(p);
        for (int d = 1; d <= N; ++d)
            v.a.setrange(d, pickRange(rng, p.firstIndex(d), p.length(d), len[d - 1]));
        break;
    }
    }
    return v;
}

// Makes `to` another view of the storage of `from`.
template <class T, int N>
void rebind(View<T, N> &to, const View<T, N> &from)
{
    to.a.makeReference(from.a);
    to.block = from.block;
    to.blockCount = from.blockCount;
}

// ---- one statement -----------------------------------------------------------

template <class T, int N>
std::vector<T> blockCopy(const View<T, N> &v)
{
    return std::vector<T>(v.block, v.block + v.blockCount);
}

// Index value of an index leaf over array `over` at a position.
template <int N>
struct IndexValue {
    const Index<N> *at;
    int operator()(int d) const { return (*at)[d - 1]; }
};
template <class T, int N>
struct IndexTree {
    const MArray<T, N> *over;
    auto operator()(int d) const { return orv::indexAlong(*over, d); }
};

template <class E, int N>
auto asTree(const E &e)
{
    if constexpr (!std::is_same<orv::detail::leaf_t<E>, std::decay_t<E>>::value)
        return orv::TExpr<orv::detail::leaf_t<E>, N>(orv::detail::traits<E>::make(e));
    else
        return e;
}

struct Tally {
    int statements = 0;
    int overlapping = 0;
    int reductions = 0;
};

template <class TR, class TD, int N>
void compareDestination(const View<TD, N> &d, const std::vector<TD> &before,
                        const std::vector<TR> &want, const char *how)
{
    std::map<const TD *, TD> expected;
    for (index_t p = 0; p < d.a.elementCount(); ++p)
        expected[&at(d.a, p)] = static_cast<TD>(want[p]);
    for (index_t k = 0; k < d.blockCount; ++k) {
        auto it = expected.find(d.block + k);
        const TD w = it == expected.end() ? before[k] : it->second;
        ASSERT_TRUE(same(d.block[k], w))
            << how << ": storage element " << k << " is " << ::testing::PrintToString(d.block[k])
            << ", want " << ::testing::PrintToString(w)
            << (it == expected.end() ? " (outside the destination)" : "");
    }
}

template <unsigned S, int N, class TD>
void statement(std::mt19937 &rng, Tally &tally)
{
    using Tr = Tree<S, 3, N>;
    int len[N];
    // Mostly short lengths, some zero, now and then long enough for the
    // vectorised loops.
    const bool longer = rng() % 6 == 0;
    const int maxLen = longer ? (N == 1 ? 70 : N == 2 ? 12 : 5) : (N == 4 ? 3 : N == 3 ? 4 : 6);
    for (int d = 0; d < N; ++d)
        len[d] = rng() % 12 == 0 ? 0 : 1 + int(rng() % maxLen);
    auto kind = [&] { return Kind(rng() % unsigned(Kind::count)); };

    View<double, N> a = makeView<double, N>(rng, kind(), len);
    View<float, N> b = makeView<float, N>(rng, kind(), len);
    View<int, N> c = makeView<int, N>(rng, kind(), len);
    // The destination: a window of its own storage; or overlapping the
    // operand of its type, as the same view or another window of that storage.
    int room[N];
    roomFor(rng, len, room);
    const bool overlap = rng() % 2 == 0;
    View<TD, N> dest;
    MArray<TD, N> whole = parent<TD, N>(rng, room);
    dest.block = whole.memoryBlock()->data;
    dest.blockCount = whole.elementCount();
    dest.a.makeReference(randomWindow(rng, whole, len));
    if (overlap) {
        View<TD, N> other;
        rebind(other, dest);
        if (rng() % 4 != 0)
            other.a.makeReference(randomWindow(rng, whole, len));
        if constexpr (std::is_same<TD, double>::value)
            rebind(a, other);
        if constexpr (std::is_same<TD, float>::value)
            rebind(b, other);
        if constexpr (std::is_same<TD, int>::value)
            rebind(c, other);
    }
    SCOPED_TRACE(::testing::Message()
                 << "lengths " << ::testing::PrintToString(std::vector<int>(len, len + N))
                 << ", overlapping " << overlap);

    // Values before the statement, position by position.
    const index_t n = dest.a.elementCount();
    using TR =
        value_of<decltype(Tr::build(std::declval<Leaves<double, float, int, IndexValue<N>>>()))>;
    std::vector<TR> want(static_cast<std::size_t>(n));
    for (index_t p = 0; p < n; ++p) {
        const Index<N> ia = indexAt(a.a, p);
        const double va = at(a.a, ia);
        const float vb = at(b.a, p);
        const int vc = at(c.a, p);
        want[p] = static_cast<TR>(
            Tr::build(Leaves<double, float, int, IndexValue<N>>{va, vb, vc, {&ia}}));
    }

    Leaves<MArray<double, N>, MArray<float, N>, MArray<int, N>, IndexTree<double, N>> arrays{
        a.a, b.a, c.a, {&a.a}};
    using TreeType = decltype(Tr::build(arrays));
    static_assert(std::is_same<value_of<TreeType>, TR>::value,
                  "value type differs from the plain computation");

    // Reductions of the tree over the operands, against sequential folds.
    {
        TR total = TR();
        index_t count = 0;
        for (const TR &v : want) {
            total += v;
            count += v ? 1 : 0;
        }
        ASSERT_TRUE(same(orv::sum(Tr::build(arrays)), total)) << "sum";
        ASSERT_EQ(orv::count(Tr::build(arrays)), count) << "count";
        ++tally.reductions;
    }

    // A floating value has no integer conversion for NaN.
    if constexpr (std::is_integral<TD>::value && !std::is_integral<TR>::value)
        return;

    // Each way of assigning starts from the same storage.
    const std::vector<TD> start = blockCopy(dest);
    auto check = [&](const char *how, auto assign) {
        std::copy(start.begin(), start.end(), dest.block);
        assign();
        compareDestination(dest, start, want, how);
        return !::testing::Test::HasFatalFailure();
    };
    auto tree = [&] { return asTree<TreeType, N>(Tr::build(arrays)); };
    if (!check("assignment", [&] { dest.a = Tr::build(arrays); }))
        return;
    if (!check("eval_assign_expr_1", [&] {
            auto e = tree();
            orv::eval_assign_expr_1(dest.a, e);
        }))
        return;
    if (!check("eval_assign_expr_N", [&] {
            auto e = tree();
            orv::eval_assign_expr_N(dest.a, e);
        }))
        return;
    if (!check("eval_with_index_iter", [&] {
            auto e = tree();
            orv::eval_with_index_iter(dest.a, e);
        }))
        return;
    ++tally.statements;
    tally.overlapping += overlap;
}

template <unsigned S, int N>
void seed(Tally &tally)
{
    if constexpr (Tree<S, 3, N>::hasOperand()) {
        std::mt19937 rng(S);
        SCOPED_TRACE(::testing::Message() << "tree seed " << S << ", " << N << " dimensions");
        for (int trial = 0; trial < 30 && !::testing::Test::HasFatalFailure(); ++trial) {
            statement<S, N, double>(rng, tally);
            statement<S, N, float>(rng, tally);
            statement<S, N, int>(rng, tally);
        }
    }
}

// Trees of seeds First+1 .. First+Count, each over arrays of N dimensions;
// the generator must have reached enough statements, overlapping ones among
// them.
template <int N, unsigned First, unsigned... S>
void seeds(std::integer_sequence<unsigned, S...>)
{
    Tally tally;
    ((seed<First + S + 1, N>(tally), ::testing::Test::HasFatalFailure()) || ...);
    EXPECT_GT(tally.statements, 200);
    EXPECT_GT(tally.overlapping, 80);
}

} // namespace difftest

#endif
