// Whole-image statements and window reductions of the array library, each
// beside a hand-written raw-pointer loop that computes the same result.
// Pairs are named .../orv and .../raw; ratios.py prints orv/raw per pair.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "orv/MArray.h"

namespace {

using orv::index_t;
using orv::MArray;
using orv::Range;

constexpr float blank = 0.f;
constexpr int margin = 8;

// Sky-like values, about one pixel in ten blank.
void fillImage(MArray<float, 2> &a, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> value(100.f, 200.f);
    std::uniform_int_distribution<int> pick(0, 9);
    for (float &x : a)
        x = pick(rng) == 0 ? blank : value(rng);
}

// An n x n image: its own storage, or a window of a larger array.
MArray<float, 2> makeImage(int n, bool contiguous, unsigned seed)
{
    if (contiguous) {
        MArray<float, 2> a(n, n);
        fillImage(a, seed);
        return a;
    }
    MArray<float, 2> big(n + 2 * margin, n + 2 * margin);
    big = -1.f;
    MArray<float, 2> a = big(Range(margin + 1, margin + n), Range(margin + 1, margin + n));
    fillImage(a, seed);
    return a;
}

// Address of the first element and the distance between rows.
struct Raw {
    float *first;
    index_t pitch;
};
Raw raw(const MArray<float, 2> &a)
{
    return {a.dataFirst(), a.stride(2)};
}

// ---- image = merge(image == blank, blank, image - sky) ----------------------

// Both variants of a pair run on the same arrays, so that they see the same
// memory placement (the allocator may place a second pair of arrays
// differently, which changes timings by tens of percent).
struct SkyPair {
    MArray<float, 2> image, sky;
};
const SkyPair &skyPair(int n, bool contiguous)
{
    static std::map<std::pair<int, bool>, SkyPair> cache;
    auto key = std::make_pair(n, contiguous);
    auto found = cache.find(key);
    if (found == cache.end()) {
        cache.clear(); // one image size at a time
        found =
            cache.emplace(key, SkyPair{makeImage(n, contiguous, 1), makeImage(n, contiguous, 2)})
                .first;
    }
    return found->second;
}

void skySubtractOrv(benchmark::State &st, int n, bool contiguous)
{
    MArray<float, 2> image = skyPair(n, contiguous).image, sky = skyPair(n, contiguous).sky;
    for (auto _ : st) {
        image = orv::merge(image == blank, blank, image - sky);
        benchmark::ClobberMemory();
    }
    st.SetItemsProcessed(st.iterations() * index_t(n) * n);
}

void skySubtractRaw(benchmark::State &st, int n, bool contiguous)
{
    const Raw im = raw(skyPair(n, contiguous).image), sk = raw(skyPair(n, contiguous).sky);
    for (auto _ : st) {
        if (contiguous) {
            float *p = im.first;
            const float *s = sk.first;
            const index_t count = index_t(n) * n;
            for (index_t k = 0; k < count; ++k)
                p[k] = p[k] == blank ? blank : p[k] - s[k];
        } else {
            for (int j = 0; j < n; ++j) {
                float *p = im.first + j * im.pitch;
                const float *s = sk.first + j * sk.pitch;
                for (int i = 0; i < n; ++i)
                    p[i] = p[i] == blank ? blank : p[i] - s[i];
            }
        }
        benchmark::ClobberMemory();
    }
    st.SetItemsProcessed(st.iterations() * index_t(n) * n);
}

// ---- count, sum and median over w x w windows -------------------------------

enum class Op { count, sum, median };
const char *name(Op op)
{
    return op == Op::count ? "count" : op == Op::sum ? "sum" : "median";
}

// The windows tile the image. Non-contiguous: subarrays of the image.
// Contiguous: the same pixels, window after window, as planes of a cube.
struct Windows {
    Windows(int n, int w)
        : w(w), perRow(n / w), image(makeImage(n, true, 3)), cube(w, w, perRow * perRow)
    {
        for (int k = 0; k < perRow * perRow; ++k) {
            MArray<float, 2> plane(cube, Range::all(), Range::all(), k + 1);
            plane = window(k);
        }
    }
    MArray<float, 2> window(int k) const
    {
        int x = (k % perRow) * w + 1, y = (k / perRow) * w + 1;
        return image(Range(x, x + w - 1), Range(y, y + w - 1));
    }
    int count() const { return perRow * perRow; }

    int w;
    int perRow;
    MArray<float, 2> image;
    MArray<float, 3> cube;
};

double reduceOrv(Op op, const MArray<float, 2> &win)
{
    switch (op) {
    case Op::count:
        return double(orv::count(win != blank));
    case Op::sum:
        return orv::sum(win);
    case Op::median:
        return orv::median_exact(win, blank);
    }
    return 0;
}

double passOrv(Op op, const Windows &ws, bool contiguous)
{
    double total = 0;
    for (int k = 0; k < ws.count(); ++k) {
        if (contiguous)
            total += reduceOrv(op, MArray<float, 2>(ws.cube, Range::all(), Range::all(), k + 1));
        else
            total += reduceOrv(op, ws.window(k));
    }
    return total;
}

// The hand-written loops: rows of w pixels, `pitch` apart.
double reduceRaw(Op op, const float *p, int w, index_t pitch, float *buffer)
{
    switch (op) {
    case Op::count: {
        index_t c = 0;
        for (int r = 0; r < w; ++r, p += pitch)
            for (int i = 0; i < w; ++i)
                c += p[i] != blank;
        return double(c);
    }
    case Op::sum: {
        float s = 0;
        for (int r = 0; r < w; ++r, p += pitch)
            for (int i = 0; i < w; ++i)
                s += p[i];
        return s;
    }
    case Op::median: {
        index_t n = 0;
        for (int r = 0; r < w; ++r, p += pitch)
            for (int i = 0; i < w; ++i)
                if (p[i] != blank && !std::isnan(p[i]))
                    buffer[n++] = p[i];
        if (n == 0)
            return blank;
        index_t k = n / 2;
        std::nth_element(buffer, buffer + k, buffer + n);
        if (n % 2)
            return buffer[k];
        return (*std::max_element(buffer, buffer + k) + buffer[k]) * 0.5f;
    }
    }
    return 0;
}

double passRaw(Op op, const Windows &ws, bool contiguous, float *buffer)
{
    double total = 0;
    const int w = ws.w;
    if (contiguous) {
        const float *p = ws.cube.dataFirst();
        for (int k = 0; k < ws.count(); ++k, p += index_t(w) * w)
            total += reduceRaw(op, p, w, w, buffer);
    } else {
        const Raw im = raw(ws.image);
        for (int k = 0; k < ws.count(); ++k) {
            const float *p = im.first + (k % ws.perRow) * w + index_t(k / ws.perRow) * w * im.pitch;
            total += reduceRaw(op, p, w, im.pitch, buffer);
        }
    }
    return total;
}

std::map<std::pair<int, int>, std::unique_ptr<Windows>> &windowCache()
{
    static std::map<std::pair<int, int>, std::unique_ptr<Windows>> cache;
    return cache;
}

const Windows &windows(int n, int w)
{
    auto &cache = windowCache();
    auto key = std::make_pair(n, w);
    if (!cache.count(key)) {
        cache.clear(); // one image size at a time
        cache[key] = std::make_unique<Windows>(n, w);
    }
    return *cache[key];
}

void windowsBench(benchmark::State &st, Op op, int n, int w, bool contiguous, bool library)
{
    const Windows &ws = windows(n, w);
    std::vector<float> buffer(std::size_t(w) * w);
    // Both loops must give the same result.
    if (passOrv(op, ws, contiguous) != passRaw(op, ws, contiguous, buffer.data())) {
        st.SkipWithError("library and hand-written loop disagree");
        return;
    }
    for (auto _ : st) {
        double total =
            library ? passOrv(op, ws, contiguous) : passRaw(op, ws, contiguous, buffer.data());
        benchmark::DoNotOptimize(total);
    }
    st.SetItemsProcessed(st.iterations() * index_t(ws.count()) * w * w);
}

void registerAll()
{
    for (int n : {256, 2048, 8192})
        for (bool contiguous : {true, false}) {
            const std::string layout = contiguous ? "contiguous" : "subarray";
            const std::string base = "sky_subtract/" + layout + "/n:" + std::to_string(n);
            benchmark::RegisterBenchmark((base + "/orv").c_str(), skySubtractOrv, n, contiguous)
                ->Unit(benchmark::kMicrosecond);
            benchmark::RegisterBenchmark((base + "/raw").c_str(), skySubtractRaw, n, contiguous)
                ->Unit(benchmark::kMicrosecond);
        }
    for (int n : {256, 2048, 8192})
        for (int w : {3, 11, 51})
            for (Op op : {Op::count, Op::sum, Op::median})
                for (bool contiguous : {true, false}) {
                    const std::string base = std::string(name(op)) + "/" +
                                             (contiguous ? "contiguous" : "subarray") +
                                             "/n:" + std::to_string(n) + "/w:" + std::to_string(w);
                    for (bool library : {true, false})
                        benchmark::RegisterBenchmark((base + (library ? "/orv" : "/raw")).c_str(),
                                                     windowsBench, op, n, w, contiguous, library)
                            ->Unit(benchmark::kMicrosecond);
                }
}

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    registerAll();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
