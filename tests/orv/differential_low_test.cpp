// Random statements over random views in one and two dimensions (the
// machinery is in differential.h; split from the higher dimensions to keep
// each file's build short).
#include <algorithm>
#include <map>
#include <memory>

#include "differential.h"

namespace {

TEST(Differential, RandomTreesInOneDimension)
{
    difftest::seeds<1, 100>(std::make_integer_sequence<unsigned, 6>());
}

TEST(Differential, RandomTreesInTwoDimensions)
{
    difftest::seeds<2, 200>(std::make_integer_sequence<unsigned, 6>());
}

} // namespace

namespace {

using difftest::Index;
using difftest::Kind;
using orv::index_t;
using orv::MArray;

template <class T, int N>
void mediansOverRandomViews(unsigned seed)
{
    std::mt19937 rng(seed);
    for (int trial = 0; trial < 60; ++trial) {
        int len[N];
        for (int d = 0; d < N; ++d)
            len[d] = rng() % 10 == 0 ? 0 : 1 + int(rng() % (N <= 2 ? 9 : 4));
        difftest::View<T, N> v =
            difftest::makeView<T, N>(rng, Kind(rng() % unsigned(Kind::count)), len);
        std::vector<T> values(static_cast<std::size_t>(v.a.elementCount()));
        for (index_t p = 0; p < v.a.elementCount(); ++p)
            values[p] = difftest::at(v.a, p);
        const std::vector<T> block(v.block, v.block + v.blockCount);
        SCOPED_TRACE(::testing::Message()
                     << "trial " << trial << ", " << values.size() << " elements");
        for (T marker : {T(0), T(-1), T(7)})
            ASSERT_TRUE(difftest::same(orv::median_exact(v.a, marker),
                                       oracle::sortedMedian(values, true, marker)))
                << marker;
        ASSERT_TRUE(
            difftest::same(orv::median_exact(v.a), oracle::sortedMedian(values, false, T(0))));
        ASSERT_TRUE(std::equal(block.begin(), block.end(), v.block, difftest::same<T>))
            << "the median wrote";
    }
}

TEST(Differential, MediansOverRandomViews)
{
    mediansOverRandomViews<float, 1>(1);
    mediansOverRandomViews<double, 2>(2);
    mediansOverRandomViews<float, 2>(3);
    mediansOverRandomViews<int, 2>(4);
    mediansOverRandomViews<double, 3>(5);
    mediansOverRandomViews<float, 4>(6);
}

// Arrays of one and two dimensions that share storage, made and dropped in
// random order: every array keeps seeing its own elements, and every block
// counts exactly the arrays that refer to it (the sanitiser build finds
// storage freed too early or never).
struct Holder {
    int dims;
    MArray<int, 1> v1;
    MArray<int, 2> v2;
    std::vector<int> expect; // elements in traversal order, unique labels
    const void *block() const
    {
        return dims == 1 ? static_cast<const void *>(v1.memoryBlock())
                         : static_cast<const void *>(v2.memoryBlock());
    }
    long references() const
    {
        return dims == 1 ? v1.memoryBlock()->references : v2.memoryBlock()->references;
    }
};

template <int N>
std::vector<int> contents(const MArray<int, N> &a)
{
    std::vector<int> v(static_cast<std::size_t>(a.elementCount()));
    for (index_t p = 0; p < a.elementCount(); ++p)
        v[p] = difftest::at(a, p);
    return v;
}

template <int N>
void label(MArray<int, N> &a, int &next)
{
    for (index_t p = 0; p < a.elementCount(); ++p)
        difftest::at(a, p) = next++;
}

TEST(Differential, SharedStorageInAnyOrder)
{
    std::mt19937 rng(11);
    int next = 1;
    for (int round = 0; round < 20; ++round) {
        std::vector<std::unique_ptr<Holder>> live;
        auto pick = [&]() -> Holder & { return *live[rng() % live.size()]; };
        for (int step = 0; step < 200; ++step) {
            const unsigned op = live.empty() ? 0 : rng() % 7;
            auto h = std::make_unique<Holder>();
            if (op == 0) { // fresh storage
                h->dims = 2;
                h->v2.makeReference(MArray<int, 2>(1 + int(rng() % 6), 1 + int(rng() % 6)));
                label(h->v2, next);
            } else if (op == 1) { // copy
                const Holder &s = pick();
                h->dims = s.dims;
                if (s.dims == 1)
                    h->v1.makeReference(MArray<int, 1>(s.v1));
                else
                    h->v2.makeReference(MArray<int, 2>(s.v2));
                h->expect = s.expect;
            } else if (op == 2 || op == 3) { // window or slice of a two-dimensional array
                Holder *s = &pick();
                if (s->dims != 2)
                    continue;
                if (op == 2) {
                    const int len[2] = {1 + int(rng() % s->v2.length(1)),
                                        1 + int(rng() % s->v2.length(2))};
                    h->dims = 2;
                    h->v2.makeReference(difftest::randomWindow(rng, s->v2, len));
                } else {
                    h->dims = 1;
                    h->v1.makeReference(
                        MArray<int, 1>(s->v2, orv::Range::all(), 1 + int(rng() % s->v2.length(2))));
                }
            } else if (op == 4) { // an array becomes another view of another's storage
                Holder &a = pick();
                const Holder &b = pick();
                if (a.dims != b.dims)
                    continue;
                if (a.dims == 1)
                    a.v1.makeReference(b.v1);
                else
                    a.v2.makeReference(b.v2);
                a.expect = b.expect;
                h.reset();
            } else if (op == 5) { // an array gets fresh storage of its shape
                Holder &a = pick();
                if (a.dims == 1) {
                    a.v1.setupMemory(false, nullptr);
                    label(a.v1, next);
                    a.expect = contents(a.v1);
                } else {
                    a.v2.setupMemory(false, nullptr);
                    label(a.v2, next);
                    a.expect = contents(a.v2);
                }
                h.reset();
            } else { // one goes away
                live.erase(live.begin() + long(rng() % live.size()));
                h.reset();
            }
            if (h) {
                if (op != 1)
                    h->expect = h->dims == 1 ? contents(h->v1) : contents(h->v2);
                live.push_back(std::move(h));
            }
            std::map<const void *, long> holders;
            for (const auto &x : live)
                ++holders[x->block()];
            for (const auto &x : live) {
                ASSERT_EQ(x->dims == 1 ? contents(x->v1) : contents(x->v2), x->expect)
                    << "round " << round << " step " << step;
                ASSERT_EQ(x->references(), holders[x->block()])
                    << "round " << round << " step " << step;
            }
        }
        std::shuffle(live.begin(), live.end(), rng);
    }
}

} // namespace
