// Expression templates: element-wise statements over arrays are built as
// typed trees that compute nothing until an assignment or a reduction walks
// them once, element by element, without temporary arrays.
#ifndef ORV_TEXPR_H
#define ORV_TEXPR_H

#include <cmath>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include "orv/MArrayIter.h"
#include "orv/RangeException.h"
#include "orv/Shape.h"

namespace orv {

template <class T, int N>
class MArray;

// Every node offers: value_type, hasIndex, speculable, valueAt(k),
// valueAtUnitStride(k), advanceDim(), isStorageContiguous(), isUnitStride()
// and visitLeaves(v); an inner node forwards them to its children in the
// order it holds them. `speculable` is true when the node's value can be
// computed at any position of the traversal without any effect and without
// any undefined operation (integer overflow or division, a float to integer
// conversion, errno of the square root), so that a merge may compute both of
// its branches and pick one: the loop then needs no branch per element.

// Wraps every tree and sub-tree.
template <class E, int N>
class TExpr {
public:
    using value_type = typename E::value_type;
    static constexpr bool hasIndex = E::hasIndex;
    static constexpr bool speculable = E::speculable;

    explicit TExpr(const E &e) : expr(e) {}

    decltype(auto) valueAt(index_t k) const { return expr.valueAt(k); }
    decltype(auto) valueAtUnitStride(index_t k) const { return expr.valueAtUnitStride(k); }
    void advanceDim() { expr.advanceDim(); }
    bool isStorageContiguous() const { return expr.isStorageContiguous(); }
    bool isUnitStride() const { return expr.isUnitStride(); }
    template <class V>
    void visitLeaves(V &v) const
    {
        expr.visitLeaves(v);
    }

    E expr;
};

// A scalar, kept in the type in which the caller wrote it.
template <class T>
class TExprLiteral {
public:
    using value_type = T;
    static constexpr bool hasIndex = false;
    static constexpr bool speculable = std::is_arithmetic<T>::value;

    explicit TExprLiteral(const T &v) : value(v) {}

    const T &valueAt(index_t) const { return value; }
    const T &valueAtUnitStride(index_t) const { return value; }
    void advanceDim() {}
    bool isStorageContiguous() const { return true; }
    bool isUnitStride() const { return true; }
    template <class V>
    void visitLeaves(V &) const
    {
    }

    T value;
};

// ---- operator tags --------------------------------------------------------

// `speculable`: comparisons of numbers always are; arithmetic is when it is
// done in floating point (integer arithmetic may overflow or divide by 0).
#define ORV_BINARY_TAG(NAME, OP, COMPARISON)                                                       \
    template <class A, class B>                                                                    \
    struct NAME {                                                                                  \
        using T_numtype = decltype(std::declval<const A &>() OP std::declval<const B &>());        \
        static constexpr bool speculable =                                                         \
            std::is_arithmetic<A>::value && std::is_arithmetic<B>::value &&                        \
            (COMPARISON || std::is_floating_point<T_numtype>::value);                              \
        static T_numtype apply(const A &a, const B &b) { return a OP b; }                          \
    };

ORV_BINARY_TAG(orv_TEQ, ==, true)
ORV_BINARY_TAG(orv_TNE, !=, true)
ORV_BINARY_TAG(orv_TLT, <, true)
ORV_BINARY_TAG(orv_TGT, >, true)
ORV_BINARY_TAG(orv_TAdd, +, false)
ORV_BINARY_TAG(orv_TSub, -, false)
ORV_BINARY_TAG(orv_TMul, *, false)
ORV_BINARY_TAG(orv_TDiv, /, false)
#undef ORV_BINARY_TAG

// Logical or; the node evaluates the right side only when the left is false.
template <class A, class B>
struct orv_TOr {
    using T_numtype = bool;
    static constexpr bool speculable = std::is_arithmetic<A>::value && std::is_arithmetic<B>::value;
    static bool apply(const A &a, const B &b) { return a || b; }
};

// Square in double, so that int arguments cannot overflow.
template <class T>
struct orv_pow2 {
    using T_numtype = double;
    static constexpr bool speculable = std::is_arithmetic<T>::value;
    static double apply(const T &a)
    {
        double x = static_cast<double>(a);
        return x * x;
    }
};

template <class T>
struct orv_fabs {
    using T_numtype = double;
    static constexpr bool speculable = std::is_arithmetic<T>::value;
    static double apply(const T &a) { return std::fabs(static_cast<double>(a)); }
};

template <class T>
struct orv_sqrt {
    using T_numtype = double;
    static constexpr bool speculable = false; // sets errno for a negative argument
    static double apply(const T &a) { return std::sqrt(static_cast<double>(a)); }
};

template <class To, class From>
struct orv_cast {
    using T_numtype = To;
    // To a floating type from an integer or a narrower or equal floating type:
    // always defined (a double out of float range is not).
    static constexpr bool speculable =
        std::is_floating_point<To>::value && std::is_arithmetic<From>::value &&
        (std::is_integral<From>::value || sizeof(To) >= sizeof(From));
    static To apply(const From &a) { return static_cast<To>(a); }
};

// ---- inner nodes ----------------------------------------------------------

namespace detail {

// c ? t : f for numbers, written as bit operations on values that are both
// already computed. A plain conditional lets the compiler move the work of
// the unused value back behind a branch, which then keeps the loop from
// being vectorised.
template <class V>
ORV_INLINE V select(bool c, V t, V f)
{
    static_assert(std::is_arithmetic<V>::value, "select picks between numbers");
    if constexpr (std::is_same<V, bool>::value) {
        return (c & t) | (!c & f);
    } else {
        using Bits = std::conditional_t<
            sizeof(V) == 1, std::uint8_t,
            std::conditional_t<sizeof(V) == 2, std::uint16_t,
                               std::conditional_t<sizeof(V) == 4, std::uint32_t, std::uint64_t>>>;
        if constexpr (sizeof(V) != sizeof(Bits)) {
            return c ? t : f; // long double: no integer of its size
        } else {
            Bits bt, bf;
            std::memcpy(&bt, &t, sizeof(V));
            std::memcpy(&bf, &f, sizeof(V));
            const Bits mask = static_cast<Bits>(-static_cast<Bits>(c));
            const Bits r = static_cast<Bits>(bf ^ ((bf ^ bt) & mask));
            V v;
            std::memcpy(&v, &r, sizeof(V));
            return v;
        }
    }
}

template <class Op>
struct IsOrTag : std::false_type {
};
template <class A, class B>
struct IsOrTag<orv_TOr<A, B>> : std::true_type {
};

// The value of a tree k steps along dimension 1. The walks choose the path
// once per statement and pass it down as a constant: on the unit-stride path
// every leaf is addressed by a plain index.
template <bool Unit, class E>
ORV_INLINE decltype(auto) valueAtStep(const E &e, index_t k)
{
    if constexpr (Unit)
        return e.valueAtUnitStride(k);
    else
        return e.valueAt(k);
}
} // namespace detail

template <class A, class B, class Op, int N>
class TBinExprOp {
public:
    using value_type = typename Op::T_numtype;
    static constexpr bool hasIndex = A::hasIndex || B::hasIndex;
    static constexpr bool speculable = A::speculable && B::speculable && Op::speculable;

    TBinExprOp(const A &a, const B &b) : left(a), right(b) {}

    value_type valueAt(index_t k) const
    {
        if constexpr (isOr)
            return left.valueAt(k) || right.valueAt(k);
        else
            return Op::apply(left.valueAt(k), right.valueAt(k));
    }
    value_type valueAtUnitStride(index_t k) const
    {
        if constexpr (isOr)
            return left.valueAtUnitStride(k) || right.valueAtUnitStride(k);
        else
            return Op::apply(left.valueAtUnitStride(k), right.valueAtUnitStride(k));
    }
    void advanceDim()
    {
        left.advanceDim();
        right.advanceDim();
    }
    bool isStorageContiguous() const
    {
        return left.isStorageContiguous() && right.isStorageContiguous();
    }
    bool isUnitStride() const { return left.isUnitStride() && right.isUnitStride(); }
    template <class V>
    void visitLeaves(V &v) const
    {
        left.visitLeaves(v);
        right.visitLeaves(v);
    }

    A left;
    B right;

private:
    static constexpr bool isOr = detail::IsOrTag<Op>::value;
};

template <class A, class Op, int N>
class TUnExprOp {
public:
    using value_type = typename Op::T_numtype;
    static constexpr bool hasIndex = A::hasIndex;
    static constexpr bool speculable = A::speculable && Op::speculable;

    explicit TUnExprOp(const A &a) : operand(a) {}

    value_type valueAt(index_t k) const { return Op::apply(operand.valueAt(k)); }
    value_type valueAtUnitStride(index_t k) const
    {
        return Op::apply(operand.valueAtUnitStride(k));
    }
    void advanceDim() { operand.advanceDim(); }
    bool isStorageContiguous() const { return operand.isStorageContiguous(); }
    bool isUnitStride() const { return operand.isUnitStride(); }
    template <class V>
    void visitLeaves(V &v) const
    {
        operand.visitLeaves(v);
    }

    A operand;
};

// Then-branch where the condition holds, else-branch elsewhere; only the
// chosen branch is computed, but both keep moving with the traversal. Where
// both branches are speculable, computing both and picking one gives the
// same values (only floating-point status flags, which nothing here reads or
// traps on, may differ); that form compiles to vector selects instead of a
// branch per element, which a blank mask makes unpredictable.
template <class C, class T, class F, int N>
class MergeExpr {
public:
    using value_type = std::common_type_t<std::decay_t<typename T::value_type>,
                                          std::decay_t<typename F::value_type>>;
    static constexpr bool hasIndex = C::hasIndex || T::hasIndex || F::hasIndex;
    static constexpr bool speculable = C::speculable && T::speculable && F::speculable;

    MergeExpr(const C &c, const T &t, const F &f) : cond(c), whenTrue(t), whenFalse(f) {}

    value_type valueAt(index_t k) const
    {
        if constexpr (bothBranches) {
            const value_type t = value_type(whenTrue.valueAt(k));
            const value_type f = value_type(whenFalse.valueAt(k));
            return detail::select(static_cast<bool>(cond.valueAt(k)), t, f);
        } else {
            return cond.valueAt(k) ? value_type(whenTrue.valueAt(k))
                                   : value_type(whenFalse.valueAt(k));
        }
    }
    value_type valueAtUnitStride(index_t k) const
    {
        if constexpr (bothBranches) {
            const value_type t = value_type(whenTrue.valueAtUnitStride(k));
            const value_type f = value_type(whenFalse.valueAtUnitStride(k));
            return detail::select(static_cast<bool>(cond.valueAtUnitStride(k)), t, f);
        } else {
            return cond.valueAtUnitStride(k) ? value_type(whenTrue.valueAtUnitStride(k))
                                             : value_type(whenFalse.valueAtUnitStride(k));
        }
    }
    void advanceDim()
    {
        cond.advanceDim();
        whenTrue.advanceDim();
        whenFalse.advanceDim();
    }
    bool isStorageContiguous() const
    {
        return cond.isStorageContiguous() && whenTrue.isStorageContiguous() &&
               whenFalse.isStorageContiguous();
    }
    bool isUnitStride() const
    {
        return cond.isUnitStride() && whenTrue.isUnitStride() && whenFalse.isUnitStride();
    }
    template <class V>
    void visitLeaves(V &v) const
    {
        cond.visitLeaves(v);
        whenTrue.visitLeaves(v);
        whenFalse.visitLeaves(v);
    }

    C cond;
    T whenTrue;
    F whenFalse;

private:
    static constexpr bool bothBranches =
        T::speculable && F::speculable && std::is_arithmetic<value_type>::value;
};

// The index along dimension `dim` of the element being computed, walking the
// index space of an array of element type T in step with the traversal.
template <class T, class V, int N>
class IndexIterDimExpr {
public:
    using value_type = V;
    static constexpr bool hasIndex = true;
    static constexpr bool speculable = true;

    IndexIterDimExpr(const Shape<N> &s, int d) : step1(1), done(false), dim(d)
    {
        for (int i = 0; i < N; ++i) {
            step[i] = 1;
            first[i] = s.base[i];
            last[i] = s.lastIndex(i);
            position[i] = first[i];
            length[i] = s.length[i];
        }
        along1 = dim == 1 ? step1 : 0;
    }

    V valueAt(index_t k) const { return static_cast<V>(position[dim - 1] + k * along1); }
    V valueAtUnitStride(index_t k) const { return valueAt(k); }
    // Next run along dimension 1: dimension 2 moves on, carrying into the
    // higher ones like an odometer.
    void advanceDim()
    {
        for (int j = 1; j < N; ++j) {
            position[j] += step[j];
            if (position[j] <= last[j])
                return;
            position[j] = first[j];
        }
        done = true;
    }
    bool isStorageContiguous() const { return true; }
    bool isUnitStride() const { return step1 == 1; }
    template <class Vis>
    void visitLeaves(Vis &v) const
    {
        v(nullptr, 0, nullptr, length, false);
    }

    int step[N];
    int first[N];
    int last[N];
    int position[N];
    int length[N];
    int step1;
    bool done;
    int dim;

private:
    index_t along1;
};

// ---- building trees -------------------------------------------------------

namespace detail {

template <class X>
struct OperandTraits {
    static constexpr bool isOperand = false;
    static constexpr int rank = 0;
    using leaf = TExprLiteral<X>;
    static leaf make(const X &x) { return leaf(x); }
};
template <class T, int N>
struct OperandTraits<MArray<T, N>> {
    static constexpr bool isOperand = true;
    static constexpr int rank = N;
    using leaf = MArrayIterConst<T, N>;
    static leaf make(const MArray<T, N> &a) { return leaf(a); }
};
template <class E, int N>
struct OperandTraits<TExpr<E, N>> {
    static constexpr bool isOperand = true;
    static constexpr int rank = N;
    using leaf = TExpr<E, N>;
    static const leaf &make(const leaf &e) { return e; }
};

template <class X>
using traits = OperandTraits<std::decay_t<X>>;
template <class X>
constexpr bool isOperand = traits<X>::isOperand;
template <class X>
using leaf_t = typename traits<X>::leaf;
template <class X>
using value_t = std::decay_t<typename leaf_t<X>::value_type>;

template <class... X>
constexpr int rankOf()
{
    int r = 0;
    ((r = traits<X>::rank ? traits<X>::rank : r), ...);
    return r;
}
template <class... X>
constexpr bool sameRank()
{
    constexpr int r = rankOf<X...>();
    return ((traits<X>::rank == 0 || traits<X>::rank == r) && ...);
}

// Both sides an array, a tree or an arithmetic scalar, at least one not a
// scalar, arrays and trees of one number of dimensions.
template <class L, class R>
constexpr bool binaryOperands =
    (isOperand<L> || isOperand<R>)&&(isOperand<L> || std::is_arithmetic<std::decay_t<L>>::value) &&
    (isOperand<R> || std::is_arithmetic<std::decay_t<R>>::value) && sameRank<L, R>();

template <template <class, class> class Tag, class L, class R>
auto makeBinary(const L &l, const R &r)
{
    constexpr int N = rankOf<L, R>();
    using Node = TBinExprOp<leaf_t<L>, leaf_t<R>, Tag<value_t<L>, value_t<R>>, N>;
    return TExpr<Node, N>(Node(traits<L>::make(l), traits<R>::make(r)));
}

template <template <class> class Tag, class X>
auto makeUnary(const X &x)
{
    constexpr int N = traits<X>::rank;
    using Node = TUnExprOp<leaf_t<X>, Tag<value_t<X>>, N>;
    return TExpr<Node, N>(Node(traits<X>::make(x)));
}

} // namespace detail

#define ORV_BINARY_OPERATOR(OP, TAG)                                                               \
    template <class L, class R, std::enable_if_t<detail::binaryOperands<L, R>, int> = 0>           \
    inline auto operator OP(const L &l, const R &r)                                                \
    {                                                                                              \
        return detail::makeBinary<TAG>(l, r);                                                      \
    }

ORV_BINARY_OPERATOR(==, orv_TEQ)
ORV_BINARY_OPERATOR(!=, orv_TNE)
ORV_BINARY_OPERATOR(<, orv_TLT)
ORV_BINARY_OPERATOR(>, orv_TGT)
ORV_BINARY_OPERATOR(||, orv_TOr)
ORV_BINARY_OPERATOR(+, orv_TAdd)
ORV_BINARY_OPERATOR(-, orv_TSub)
ORV_BINARY_OPERATOR(*, orv_TMul)
ORV_BINARY_OPERATOR(/, orv_TDiv)
#undef ORV_BINARY_OPERATOR

// merge(c, t, f): t where c holds, f elsewhere; t and f may be arrays, trees
// or plain values.
template <class C, class T, class F,
          std::enable_if_t<detail::isOperand<C> && detail::sameRank<C, T, F>(), int> = 0>
inline auto merge(const C &c, const T &t, const F &f)
{
    constexpr int N = detail::traits<C>::rank;
    using Node = MergeExpr<detail::leaf_t<C>, detail::leaf_t<T>, detail::leaf_t<F>, N>;
    return TExpr<Node, N>(
        Node(detail::traits<C>::make(c), detail::traits<T>::make(t), detail::traits<F>::make(f)));
}

template <class X, std::enable_if_t<detail::isOperand<X>, int> = 0>
inline auto pow2(const X &x)
{
    return detail::makeUnary<orv_pow2>(x);
}
template <class X, std::enable_if_t<detail::isOperand<X>, int> = 0>
inline auto fabs(const X &x)
{
    return detail::makeUnary<orv_fabs>(x);
}
template <class X, std::enable_if_t<detail::isOperand<X>, int> = 0>
inline auto sqrt(const X &x)
{
    return detail::makeUnary<orv_sqrt>(x);
}

template <class To, class X, std::enable_if_t<detail::isOperand<X>, int> = 0>
inline auto cast(const X &x)
{
    constexpr int N = detail::traits<X>::rank;
    using Node = TUnExprOp<detail::leaf_t<X>, orv_cast<To, detail::value_t<X>>, N>;
    return TExpr<Node, N>(Node(detail::traits<X>::make(x)));
}

// The index along dimension d (counted from 1) of every element of a.
template <class T, int N>
inline TExpr<IndexIterDimExpr<T, int, N>, N> indexAlong(const MArray<T, N> &a, int d)
{
    if (d < 1 || d > N)
        detail::raise("indexAlong: dimension " + std::to_string(d) + " outside 1.." +
                      std::to_string(N));
    return TExpr<IndexIterDimExpr<T, int, N>, N>(IndexIterDimExpr<T, int, N>(*a.shape(), d));
}

} // namespace orv

#endif
