#include "lightcurve/sorting.h"

#include <array>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

// Element p (from 1) of an array, whatever its base and stride.
struct Column {
    double *first;
    orv::index_t stride;
    double &operator[](long p) const { return first[(p - 1) * stride]; }
};

Column columnOf(const orv::MArray<double, 1> &a)
{
    return Column{a.dataFirst(), a.stride(1)};
}

// Order-preserving unsigned image of a number (not NaN); -0 and +0 alike.
std::uint64_t orderedBits(double x)
{
    if (x == 0)
        x = 0;
    std::uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return bits >> 63 ? ~bits : bits | std::uint64_t{1} << 63;
}

// A key array and K companions that follow every move of the key.
template <int K>
struct Keyed {
    struct Item {
        double key;
        std::array<double, K> comp;
    };

    Column key;
    std::array<Column, K> comp;

    Item take(long i) const
    {
        Item t{key[i], {}};
        for (int k = 0; k < K; ++k)
            t.comp[k] = comp[k][i];
        return t;
    }
    void put(long i, const Item &t) const
    {
        key[i] = t.key;
        for (int k = 0; k < K; ++k)
            comp[k][i] = t.comp[k];
    }
    void move(long to, long from) const
    {
        key[to] = key[from];
        for (int k = 0; k < K; ++k)
            comp[k][to] = comp[k][from];
    }
    void swap(long i, long j) const
    {
        std::swap(key[i], key[j]);
        for (int k = 0; k < K; ++k)
            std::swap(comp[k][i], comp[k][j]);
    }
};

template <int K>
void heapSort(const Keyed<K> &a, long n)
{
    if (n < 2)
        return;
    long l = n / 2 + 1;
    long ir = n;
    for (;;) {
        typename Keyed<K>::Item r;
        if (l > 1) {
            r = a.take(--l);
        } else {
            r = a.take(ir);
            a.move(ir, 1);
            if (--ir == 1) {
                a.put(1, r);
                return;
            }
        }
        long i = l;
        long j = l + l;
        while (j <= ir) {
            if (j < ir && a.key[j + 1] > a.key[j])
                ++j;
            if (!(a.key[j] > r.key))
                break;
            a.move(i, j);
            i = j;
            j += j;
        }
        a.put(i, r);
    }
}

// Parts of up to this many elements beyond the first are insertion-sorted.
constexpr long kInsertionLimit = 7;

template <int K>
void quickSort(const Keyed<K> &a, long n)
{
    // Pending parts as (first, last) pairs. The shorter part is always done
    // first, so at most log2(n) parts wait; a vector cannot overflow anyway.
    std::vector<long> stack;
    long l = 1;
    long ir = n;
    for (;;) {
        if (ir - l < kInsertionLimit) {
            for (long j = l + 1; j <= ir; ++j) {
                const typename Keyed<K>::Item v = a.take(j);
                long i = j - 1;
                for (; i >= l && a.key[i] > v.key; --i)
                    a.move(i + 1, i);
                a.put(i + 1, v);
            }
            if (stack.empty())
                return;
            ir = stack.back();
            stack.pop_back();
            l = stack.back();
            stack.pop_back();
            continue;
        }
        const long k = (l + ir) / 2;
        a.swap(k, l + 1);
        if (a.key[l + 1] > a.key[ir])
            a.swap(l + 1, ir);
        if (a.key[l] > a.key[ir])
            a.swap(l, ir);
        if (a.key[l + 1] > a.key[l])
            a.swap(l + 1, l);
        long i = l + 1;
        long j = ir;
        const typename Keyed<K>::Item v = a.take(l);
        // For ordered keys a[ir] >= v and a[l] = v stop the scans; the bounds
        // keep NaN keys from walking them out of the part.
        for (;;) {
            do
                ++i;
            while (i < ir && a.key[i] < v.key);
            do
                --j;
            while (j > l && a.key[j] > v.key);
            if (j < i)
                break;
            a.swap(i, j);
        }
        a.move(l, j);
        a.put(j, v);
        if (ir - i + 1 >= j - l) {
            stack.push_back(i);
            stack.push_back(ir);
            ir = j - 1;
        } else {
            stack.push_back(l);
            stack.push_back(j - 1);
            l = i;
        }
    }
}

// Companions must reach as far as the key.
bool companionsFit(const orv::MArray<double, 1> &a, const orv::MArray<double, 1> &b,
                   const orv::MArray<double, 1> &c, const orv::MArray<double, 1> &d)
{
    const int n = a.length(1);
    if (b.length(1) >= n && c.length(1) >= n && d.length(1) >= n)
        return true;
    std::cout << "error: companion arrays shorter than the key array!" << std::endl;
    return false;
}

Keyed<3> keyedOf(const orv::MArray<double, 1> &a, const orv::MArray<double, 1> &b,
                 const orv::MArray<double, 1> &c, const orv::MArray<double, 1> &d)
{
    return Keyed<3>{columnOf(a), {columnOf(b), columnOf(c), columnOf(d)}};
}

} // namespace

void hpsort4(orv::MArray<double, 1> a)
{
    heapSort(Keyed<0>{columnOf(a), {}}, a.length(1));
}

void hpsort4(orv::MArray<double, 1> a, orv::MArray<double, 1> b, orv::MArray<double, 1> c,
             orv::MArray<double, 1> d)
{
    if (companionsFit(a, b, c, d))
        heapSort(keyedOf(a, b, c, d), a.length(1));
}

void quicksort(orv::MArray<double, 1> a)
{
    quickSort(Keyed<0>{columnOf(a), {}}, a.length(1));
}

void quicksort4(orv::MArray<double, 1> a, orv::MArray<double, 1> b, orv::MArray<double, 1> c,
                orv::MArray<double, 1> d)
{
    if (companionsFit(a, b, c, d))
        quickSort(keyedOf(a, b, c, d), a.length(1));
}

int *intvector(long nl, long nh)
{
    // Elements 0..nh+1 from the allocator itself: no pointer is shifted
    // outside its block, which is why a negative lowest index is refused.
    int *v = nullptr;
    if (nl >= 0 && nh >= nl - 1 && nh < LONG_MAX - 1) {
        const unsigned long count = static_cast<unsigned long>(nh + 2);
        if (count <= SIZE_MAX / sizeof(int))
            v = static_cast<int *>(std::malloc(count * sizeof(int)));
    }
    if (v == nullptr)
        std::cout << "allocation failure in intvector()" << std::endl;
    return v;
}

void free_intvector(int *v, long, long)
{
    std::free(v);
}

// A stable radix sort of the places, 11 bits of the key a pass, reading the
// keys where they are (less memory to touch than copies of them); passes in
// which every key has the same digit are skipped.
std::vector<int> sortingSources(const orv::MArray<double, 1> &key, int n)
{
    constexpr int kBits = 11, kPasses = 6, kBuckets = 1 << kBits;
    std::vector<int> source(n + 1);
    std::vector<int> count(kPasses * kBuckets, 0);
    int m = 0; // keys that are numbers, listed from source[1]
    for (int p = 1; p <= n; ++p)
        if (!std::isnan(key(p))) {
            source[++m] = p;
            const std::uint64_t b = orderedBits(key(p));
            for (int pass = 0; pass < kPasses; ++pass)
                ++count[pass * kBuckets + ((b >> (pass * kBits)) & (kBuckets - 1))];
        }
    std::vector<int> moved;
    for (int pass = 0; pass < kPasses; ++pass) {
        int *start = &count[pass * kBuckets];
        if (*std::max_element(start, start + kBuckets) == m)
            continue;
        moved.resize(n + 1);
        int sum = 1;
        for (int d = 0; d < kBuckets; ++d)
            sum += std::exchange(start[d], sum);
        const int shift = pass * kBits;
        for (int k = 1; k <= m; ++k)
            moved[start[(orderedBits(key(source[k])) >> shift) & (kBuckets - 1)]++] = source[k];
        source.swap(moved);
    }
    if (m == n)
        return source;
    // The places by key go to the places of the numbers in turn.
    moved.assign(n + 1, 0);
    for (int p = 1, k = 1; p <= n; ++p)
        moved[p] = std::isnan(key(p)) ? p : source[k++];
    return moved;
}
