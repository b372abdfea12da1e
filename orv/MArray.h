// orv::MArray: N-dimensional arrays with per-dimension index bases over
// reference-counted storage. Copies, subarrays and slices share elements;
// assignment copies elements into the existing storage.
//
// This is the header to include; it brings in the expression templates, the
// evaluators, the reductions and printing.
#ifndef ORV_MARRAY_H
#define ORV_MARRAY_H

#include <climits>
#include <cstddef>
#include <iostream>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

#include "orv/MArrayIter.h"
#include "orv/MemoryBlock.h"
#include "orv/Print.h"
#include "orv/Range.h"
#include "orv/RangeException.h"
#include "orv/Shape.h"
#include "orv/TExpr.h"

namespace orv {

template <class A>
class ListInitializationSwitch;

namespace detail {

template <class X>
constexpr bool isIndex = std::is_integral<X>::value && !std::is_same<X, bool>::value;
template <class X>
constexpr bool isViewArg = std::is_same<X, Range>::value || isIndex<X>;
template <class... X>
constexpr int countRanges = (0 + ... + (std::is_same<X, Range>::value ? 1 : 0));

template <class T, int N, class E>
void assign(MArray<T, N> &dest, const TExpr<E, N> &e);

template <class T>
struct identity {
    using type = T;
};

} // namespace detail

template <class T, int N>
class MArray {
    static_assert(N >= 1, "an array has at least one dimension");

public:
    using value_type = T;
    using T_numtype = T;
    static constexpr int rank = N;
    using iterator = MArrayIter<T, N>;
    using const_iterator = MArrayIterConst<T, N>;

    // ---- construction -------------------------------------------------------

    // No storage, 0 elements; must be given storage before it is read or
    // written.
    MArray() noexcept : memoryBlock_(nullptr), data_(nullptr) {}

    // Lengths m1..mN, every base 1, heap storage.
    template <class... L,
              std::enable_if_t<sizeof...(L) == N && (detail::isIndex<L> && ...), int> = 0>
    explicit MArray(L... lengths) : MArray()
    {
        setLengths(lengths...);
        setupMemory(false, nullptr);
    }

    // One dimension of n elements, indices 1..n; memory-mapped when map is set
    // (from the named file, or a temporary one without a name).
    template <int M = N, std::enable_if_t<M == 1, int> = 0>
    MArray(int n, bool map, const char *fileName = nullptr) : MArray()
    {
        setLengths(n);
        setupMemory(map, fileName);
    }

    // One range per dimension: bases and lengths from the ranges' bounds.
    template <class... R, std::enable_if_t<
                              sizeof...(R) == N && (std::is_same<R, Range>::value && ...), int> = 0>
    explicit MArray(const R &...ranges) : MArray()
    {
        int d = 0;
        (setFromRange(d++, ranges), ...);
        setupMemory(false, nullptr);
    }

    // The bases and lengths of a given shape (another array's), fresh layout.
    explicit MArray(const Shape<N> *shape, bool map = false, const char *fileName = nullptr)
        : MArray()
    {
        for (int d = 0; d < N; ++d) {
            shape_.base[d] = shape->base[d];
            shape_.length[d] = shape->length[d];
        }
        setupMemory(map, fileName);
    }

    // Takes over a buffer of m1*...*mN elements made with new[]; the buffer is
    // released even when construction fails.
    template <class... L,
              std::enable_if_t<sizeof...(L) == N && (detail::isIndex<L> && ...), int> = 0>
    MArray(T *buffer, L... lengths) : MArray()
    {
        try {
            setLengths(lengths...);
            Shape<N> s = shape_;
            s.setFresh(maxElements());
            adoptFresh(new MemoryBlock<T>(buffer, adopt), s);
        } catch (...) {
            delete[] buffer;
            throw;
        }
    }

    // Shares the storage: both show the same elements.
    MArray(const MArray &other) noexcept
        : memoryBlock_(other.memoryBlock_), shape_(other.shape_), data_(other.data_)
    {
        if (memoryBlock_ != nullptr)
            ++memoryBlock_->references;
    }

    // A view of src: one argument per dimension of src, each a Range (the
    // dimension is kept, renumbered from 1) or an index (the dimension is
    // dropped). With N ranges this is a subarray, with fewer a slice.
    template <int M, class... A,
              std::enable_if_t<sizeof...(A) == M && (detail::isViewArg<A> && ...) &&
                                   detail::countRanges<A...> == N,
                               int> = 0>
    ORV_INLINE MArray(const MArray<T, M> &src, const A &...args)
        : memoryBlock_(nullptr), shape_(detail::Unset()), data_(src.data_)
    {
        // The geometry is made in place and the reference taken last: windows
        // are made millions of times, and a refused range leaves nothing to undo.
        int out = 0;
        int k = 0;
        (applyViewArg(shape_, data_, out, src.shape_, k++, args), ...);
        shape_.recompute();
        memoryBlock_ = src.memoryBlock_;
        if (memoryBlock_ != nullptr)
            ++memoryBlock_->references;
    }

    ~MArray() { release(); }

    // ---- assignment: copies elements, never shares ---------------------------

    MArray &operator=(const MArray &b)
    {
        detail::assign(*this, TExpr<MArrayIterConst<T, N>, N>(MArrayIterConst<T, N>(b)));
        return *this;
    }
    template <class U>
    MArray &operator=(const MArray<U, N> &b)
    {
        detail::assign(*this, TExpr<MArrayIterConst<U, N>, N>(MArrayIterConst<U, N>(b)));
        return *this;
    }
    template <class E>
    MArray &operator=(const TExpr<E, N> &e)
    {
        detail::assign(*this, e);
        return *this;
    }
    // Every element becomes x at the end of the statement.
    ListInitializationSwitch<MArray> operator=(const T &x)
    {
        requireStorage();
        return ListInitializationSwitch<MArray>(this, x);
    }

    template <class U, std::enable_if_t<std::is_arithmetic<U>::value, int> = 0>
    MArray &operator*=(const U &k)
    {
        return *this = *this * k;
    }
    template <class U, std::enable_if_t<std::is_arithmetic<U>::value, int> = 0>
    MArray &operator/=(const U &k)
    {
        return *this = *this / k;
    }

    // ---- elements and views --------------------------------------------------

    template <class... I,
              std::enable_if_t<sizeof...(I) == N && (detail::isIndex<I> && ...), int> = 0>
    T &operator()(I... i)
    {
        return data_[offsetOf(i...)];
    }
    template <class... I,
              std::enable_if_t<sizeof...(I) == N && (detail::isIndex<I> && ...), int> = 0>
    const T &operator()(I... i) const
    {
        return data_[offsetOf(i...)];
    }

    // A(r1, r2) is a subarray, A(r, j) a slice: see the view constructor.
    template <class... A, std::enable_if_t<sizeof...(A) == N && (detail::isViewArg<A> && ...) &&
                                               (detail::countRanges<A...> > 0),
                                           int> = 0>
    MArray<T, detail::countRanges<A...>> operator()(const A &...args) const
    {
        return MArray<T, detail::countRanges<A...>>(*this, args...);
    }

    // ---- geometry (dimensions count from 1) ----------------------------------

    int length(int d) const { return shape_.length[dimIndex(d)]; }
    int firstIndex(int d) const { return shape_.base[dimIndex(d)]; }
    int lastIndex(int d) const { return shape_.lastIndex(dimIndex(d)); }
    index_t stride(int d) const { return shape_.stride[dimIndex(d)]; }
    index_t elementCount() const { return shape_.nelements; }
    bool isStorageContiguous() const { return shape_.contiguous; }
    const Shape<N> *shape() const { return &shape_; }
    // Address of the (possibly non-existent) element with all indices 0.
    T *data() const { return data_; }
    // Address of the first element, (base(1), ..., base(N)).
    T *dataFirst() const { return data_ == nullptr ? nullptr : data_ - shape_.zeroOffset; }
    // The shared storage; null for an array without storage.
    MemoryBlock<T> *memoryBlock() const { return memoryBlock_; }

    iterator begin() { return iterator(*this); }
    iterator end() { return iterator::end(*this); }
    const_iterator begin() const { return const_iterator(*this); }
    const_iterator end() const { return const_iterator::end(*this); }

    // ---- storage -------------------------------------------------------------

    // Gives the array new storage for the bases and lengths it has, laid out
    // fresh; memory-mapped when map is set. A reference held before is
    // released (the storage stays with any other array that shares it).
    void setupMemory(bool map, const char *fileName)
    {
        Shape<N> s = shape_;
        s.setFresh(maxElements());
        adoptFresh(makeBlock(s.nelements, map, fileName), s);
    }

    // Makes this array a further view of a's storage with a's geometry. The new
    // reference is taken first, so a reference to itself is harmless.
    void makeReference(const MArray &a) { adoptView(a.memoryBlock_, a.shape_, a.data_); }

    // Restricts dimension dim to r; the dimension is then indexed from 1.
    void setrange(int dim, const Range &r)
    {
        restrict(shape_, data_, dimIndex(dim), r);
        shape_.recompute();
    }

    // Makes this array a view of a over the given ranges, one per dimension.
    template <class... R, std::enable_if_t<
                              sizeof...(R) == N && (std::is_same<R, Range>::value && ...), int> = 0>
    void subarray(const MArray &a, const R &...ranges)
    {
        makeView(a, ranges...);
    }

    // One step of building a view with fewer dimensions than its source: takes
    // base, length and stride of a's dimension srcDim into this array's
    // dimension dim, restricts it to r and moves dim on by one. It neither binds
    // storage nor applies fixed indices; slicearray and the view constructor do.
    template <int M>
    void slice(int &dim, const Range &r, const MArray<T, M> &a, int srcDim)
    {
        int to = dimIndex(dim);
        applyViewArg(shape_, data_, to, a.shape_, a.dimIndex(srcDim), r);
        shape_.recompute();
        ++dim;
    }

    // Makes this array a view of a: the first M arguments take a's dimensions in
    // order (a Range keeps the dimension, an index drops it); the others are
    // NoArgument.
    template <int M, class A1, class A2 = NoArgument, class A3 = NoArgument, class A4 = NoArgument,
              class A5 = NoArgument, class A6 = NoArgument, class A7 = NoArgument>
    void slicearray(const MArray<T, M> &a, A1 a1, A2 a2 = A2(), A3 a3 = A3(), A4 a4 = A4(),
                    A5 a5 = A5(), A6 a6 = A6(), A7 a7 = A7())
    {
        static_assert(M >= 1 && M <= 7, "slicearray takes sources of 1 to 7 dimensions");
        using Args = std::tuple<A1, A2, A3, A4, A5, A6, A7>;
        static_assert(trailingNoArguments<Args, M>(std::make_index_sequence<7>()),
                      "slicearray takes one argument per source dimension, then NoArgument");
        sliceFromTuple(a, Args(a1, a2, a3, a4, a5, a6, a7), std::make_index_sequence<M>());
    }

    // Writes the array's internals to standard output.
    void describeSelf() const
    {
        std::cout << "  Num elements        : " << static_cast<unsigned long>(shape_.nelements)
                  << std::endl;
        std::cout << "  Zero offset         : " << shape_.zeroOffset << std::endl;
        std::cout << "  Data (0,0,...)      : " << static_cast<const void *>(data_) << std::endl;
        std::cout << "  First element       : " << static_cast<const void *>(dataFirst())
                  << std::endl;
        std::cout << "  Storage Contiguous  : " << shape_.contiguous << std::endl;
        std::cout << "  MemBlock at         : " << static_cast<const void *>(memoryBlock_)
                  << std::endl;
        std::cout << "     References       : " << (memoryBlock_ ? memoryBlock_->references : 0)
                  << std::endl;
        std::cout << "     Data ptr         : "
                  << static_cast<const void *>(memoryBlock_ ? memoryBlock_->data : nullptr)
                  << std::endl;
        std::cout << "  Dimensions          : " << shape_ << std::endl;
        std::cout << "  Strides             : ";
        for (int d = 0; d < N; ++d)
            std::cout << shape_.stride[d] << " ";
        std::cout << std::endl;
    }

private:
    template <class, int>
    friend class MArray;
    friend class ListInitializationSwitch<MArray>;

    static constexpr index_t maxElements() { return PTRDIFF_MAX / static_cast<index_t>(sizeof(T)); }

    int dimIndex(int d) const
    {
#ifdef ORV_RANGE_CHECK
        if (d < 1 || d > N)
            detail::raise("Dimension " + std::to_string(d) + " outside 1.." + std::to_string(N));
#endif
        return d - 1;
    }

    template <class... I>
    index_t offsetOf(I... i) const
    {
#ifdef ORV_RANGE_CHECK
        int d = 0;
        ((static_cast<long long>(i) < shape_.base[d] ||
                  static_cast<long long>(i) > shape_.lastIndex(d)
              ? detail::raiseIndex(i, shape_.base[d], shape_.lastIndex(d), d + 1)
              : void(++d)),
         ...);
#endif
        index_t off = 0;
        int k = 0;
        ((off += static_cast<index_t>(i) * shape_.stride[k++]), ...);
        return off;
    }

    template <class... L>
    void setLengths(L... lengths)
    {
        int d = 0;
        ((shape_.base[d] = 1, shape_.length[d++] = checkedLength(lengths)), ...);
    }
    template <class L>
    static int checkedLength(L n)
    {
        bool fits;
        if constexpr (std::is_unsigned<L>::value)
            fits = n <= static_cast<unsigned long long>(INT_MAX);
        else
            fits = static_cast<long long>(n) <= INT_MAX && static_cast<long long>(n) >= INT_MIN;
        if (!fits)
            detail::raise("Array length " + std::to_string(n) + " does not fit a dimension");
        return static_cast<int>(n);
    }
    void setFromRange(int d, const Range &r)
    {
        if (r.first == Range::unset || r.last == Range::unset || r.stride != 1)
            detail::raise("An array is made from ranges with both bounds given and step 1");
        shape_.base[d] = r.first;
        shape_.length[d] = checkedLength(static_cast<long long>(r.last) - r.first + 1);
    }

    static MemoryBlock<T> *makeBlock(index_t n, bool map, const char *fileName)
    {
        if constexpr (std::is_arithmetic<T>::value) {
            if (!map && LargeBlock<T>::suits(n))
                return new LargeBlock<T>(n);
        }
        if (!map)
            return new MemoryBlock<T>(n);
        if constexpr (std::is_trivially_copyable<T>::value) {
            return new MemoryMapBlock<T>(n, fileName);
        } else {
            detail::raise("Memory-mapped storage holds plain element types only");
        }
    }

    void release() noexcept
    {
        if (memoryBlock_ != nullptr && --memoryBlock_->references == 0)
            delete memoryBlock_;
        memoryBlock_ = nullptr;
    }

    // Takes a reference on block first, then drops the one held.
    ORV_INLINE void adoptView(MemoryBlock<T> *block, const Shape<N> &s, T *d)
    {
        if (block != nullptr)
            ++block->references;
        release();
        memoryBlock_ = block;
        shape_ = s;
        data_ = d;
    }

    // Binds a new block (references 0) laid out as s, as its first array.
    void adoptFresh(MemoryBlock<T> *block, const Shape<N> &s)
    {
        adoptView(block, s, block->data == nullptr ? nullptr : block->data + s.zeroOffset);
    }

    void requireStorage() const
    {
        if (memoryBlock_ == nullptr)
            detail::raise("Assignment to an array without storage");
    }

    // Every element becomes x: the fill that ends a scalar assignment.
    void fill(const T &x)
    {
        detail::assign(*this, TExpr<TExprLiteral<T>, N>(TExprLiteral<T>(x)));
    }

    // Restricts dimension i (from 0) of s to r: the dimension becomes based at
    // 1 and index k addresses what was index first + (k - 1) * r.stride. A range
    // ending before it begins selects nothing; one reaching outside the
    // dimension is refused.
    ORV_INLINE static void restrict(Shape<N> &s, T *&d, int i, const Range &r)
    {
        if (r.stride == 0)
            detail::raise("Range step must not be 0");
        const long long b = s.base[i];
        const long long e = b + s.length[i] - 1;
        const long long f = r.first == Range::unset ? b : r.first;
        const long long l = r.last == Range::unset ? e : r.last;
        // Step 1 is the common case; it needs no division.
        long long n = r.stride == 1 ? l - f + 1 : (l - f) / r.stride + 1;
        if (n > 0) {
            // First and last taken index inside b..e: one unsigned comparison each.
            const long long end = f + (n - 1) * r.stride;
            const unsigned long long count = static_cast<unsigned long long>(s.length[i]);
            if (static_cast<unsigned long long>(f - b) >= count ||
                static_cast<unsigned long long>(end - b) >= count)
                detail::raiseRange(i + 1, f, l, b, e);
            if (d != nullptr)
                d += (f - r.stride) * s.stride[i];
        } else {
            n = 0;
        }
        s.base[i] = 1;
        s.length[i] = static_cast<int>(n);
        s.stride[i] *= r.stride;
    }

    template <int M>
    ORV_INLINE static void applyViewArg(Shape<N> &s, T *&d, int &out, const Shape<M> &from, int k,
                                        const Range &r)
    {
        s.base[out] = from.base[k];
        s.length[out] = from.length[k];
        s.stride[out] = from.stride[k];
        restrict(s, d, out, r);
        ++out;
    }
    template <int M, class I, std::enable_if_t<detail::isIndex<I>, int> = 0>
    ORV_INLINE static void applyViewArg(Shape<N> &, T *&d, int &, const Shape<M> &from, int k,
                                        I index)
    {
        if (static_cast<long long>(index) < from.base[k] ||
            static_cast<long long>(index) > from.lastIndex(k))
            detail::raiseIndex(index, from.base[k], from.lastIndex(k), k + 1);
        if (d != nullptr)
            d += static_cast<index_t>(index) * from.stride[k];
    }

    template <int M, class... A>
    ORV_INLINE void makeView(const MArray<T, M> &src, const A &...args)
    {
        static_assert(sizeof...(A) == M, "one argument per source dimension");
        static_assert(detail::countRanges<A...> == N, "one range per dimension of the view");
        Shape<N> s;
        T *d = src.data_;
        int out = 0;
        int k = 0;
        (applyViewArg(s, d, out, src.shape_, k++, args), ...);
        s.recompute();
        adoptView(src.memoryBlock_, s, d);
    }

    template <class Args, int M, std::size_t... I>
    static constexpr bool trailingNoArguments(std::index_sequence<I...>)
    {
        return ((I < M ? !std::is_same<std::tuple_element_t<I, Args>, NoArgument>::value
                       : std::is_same<std::tuple_element_t<I, Args>, NoArgument>::value) &&
                ...);
    }
    template <int M, class Args, std::size_t... I>
    void sliceFromTuple(const MArray<T, M> &a, const Args &args, std::index_sequence<I...>)
    {
        makeView(a, std::get<I>(args)...);
    }

    MemoryBlock<T> *memoryBlock_;
    Shape<N> shape_;
    T *data_;
};

// The result of assigning one value to a whole array: the fill happens when
// this object ends, at the end of the statement.
template <class A>
class ListInitializationSwitch {
public:
    using value_type = typename A::value_type;

    ListInitializationSwitch(A *a, const value_type &v) : array(a), value(v), armed(true) {}
    ListInitializationSwitch(ListInitializationSwitch &&other)
        : array(other.array), value(other.value), armed(other.armed)
    {
        other.armed = false;
    }
    ListInitializationSwitch(const ListInitializationSwitch &) = delete;
    ListInitializationSwitch &operator=(const ListInitializationSwitch &) = delete;

    // Copying string elements may throw; that reaches the caller.
    ~ListInitializationSwitch() noexcept(false)
    {
        if (armed) {
            armed = false;
            array->fill(value);
        }
    }

    void disarm() { armed = false; }

    // A list of values after the scalar is not supported: refusing it keeps
    // "A = 1, 2, 3" from quietly filling A with 1.
    template <class U>
    void operator,(const U &) = delete;

    A *array;
    value_type value;
    bool armed;
};

} // namespace orv

#include "orv/Evaluate.h"
#include "orv/Reduce.h"

#endif
