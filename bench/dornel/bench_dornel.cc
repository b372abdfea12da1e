// Time of the sky models on a 2048 x 2048 image with a curved sky, seeded
// noise and stars.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <random>
#include <sstream>
#include <string>

#include "dornel/binspline.h"
#include "dornel/get_sky.h"
#include "dornel/spline_sky.h"
#include "orv/MArray.h"
#include "orv/fits/fits.h"
#include "orv/fits/fits_data.h"

namespace {

constexpr int kSide = 2048;

struct Images {
    orv::MArray<float, 2> image{kSide, kSide};
    orv::MArray<float, 2> err{kSide, kSide};
    Images()
    {
        std::mt19937 rng(12345);
        std::normal_distribution<float> noise(0.0f, 1.0f);
        std::uniform_int_distribution<int> where(1, kSide);
        for (int y = 1; y <= kSide; ++y)
            for (int x = 1; x <= kSide; ++x) {
                const double u = x / 2048.0, v = y / 2048.0;
                image(x, y) =
                    static_cast<float>(100 + 5 * u - 3 * v + 4 * u * u + 2 * u * v - 6 * v * v) +
                    noise(rng);
                err(x, y) = 1.0f;
            }
        for (int s = 0; s < 2000; ++s)
            image(where(rng), where(rng)) += 200.0f; // stars
    }
};

const Images &images()
{
    static const Images im;
    return im;
}

std::string scratchName(const char *word)
{
    return "/tmp/bench_dornel_" + std::to_string(getpid()) + "_" + word + ".fits";
}

// Counts the passes in get_sky's progress output.
int passes(const std::string &out)
{
    int n = 0;
    for (std::size_t p = out.find("having used"); p != std::string::npos;
         p = out.find("having used", p + 1))
        ++n;
    return n;
}

void BM_GetSky(benchmark::State &state)
{
    const Images &im = images();
    orv::MArray<float, 2> sky(im.image.shape());
    const std::string cut = scratchName("cut");
    int n = 0;
    for (auto _ : state) {
        sky = im.image;
        std::ostringstream out;
        std::streambuf *old = std::cout.rdbuf(out.rdbuf());
        get_sky(sky, im.err, 0.0, 3.0, kSide, kSide, cut, 2, 2, 1e30);
        std::cout.rdbuf(old);
        n = passes(out.str());
    }
    std::remove(cut.c_str());
    state.counters["passes"] = n;
    state.counters["s_per_pass"] =
        benchmark::Counter(static_cast<double>(n) * state.iterations(),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_GetSky)->Unit(benchmark::kMillisecond);

// Bins of 17 x 17 pixels, galaxy centre 1070, 1077, blocks of medrad.
Parameter splineSettings(int medrad)
{
    Parameter p;
    p.intervall = 8;
    p.medrad = medrad;
    p.verbose = 0;
    p.cx = p.galcenter[0] = 1070;
    p.cy = p.galcenter[1] = 1077;
    p.nan = 0;
    p.current_file = scratchName("spline");
    return p;
}

// The double-median spline sky with the default settings (no second-median
// block).
void BM_Binspline(benchmark::State &state)
{
    const Images &im = images();
    orv::MArray<float, 2> sky(im.image.shape());
    Parameter p = splineSettings(0);
    for (auto _ : state) {
        std::ostringstream out;
        std::streambuf *old = std::cout.rdbuf(out.rdbuf());
        binspline(im.image, sky, p);
        std::cout.rdbuf(old);
    }
}
BENCHMARK(BM_Binspline)->Unit(benchmark::kMillisecond);

// The spline sky in its clipping loop (kappa 3, blocks of 3 x 3 bins): the
// passes after the first make again only what the clipping changed.
void BM_SplineSky(benchmark::State &state)
{
    const Images &im = images();
    orv::MArray<float, 2> sky(im.image.shape());
    Parameter p = splineSettings(1);
    p.kappa = 3;
    int n = 0;
    for (auto _ : state) {
        std::ostringstream out;
        std::streambuf *old = std::cout.rdbuf(out.rdbuf());
        spline_sky(im.image, im.err, sky, "/tmp/", "bench_dornel_spline.fits", p);
        std::cout.rdbuf(old);
        const std::string text = out.str();
        n = 0;
        for (std::size_t k = text.find(") notnan"); k != std::string::npos;
             k = text.find(") notnan", k + 1))
            ++n;
    }
    state.counters["passes"] = n - 1;
}
BENCHMARK(BM_SplineSky)->Unit(benchmark::kMillisecond);

// One read of the image from a FITS file, the yardstick of the spline pass.
void BM_ReadImage(benchmark::State &state)
{
    const std::string name = scratchName("read");
    {
        orv::FitsOut out(name);
        out << images().image;
    }
    for (auto _ : state) {
        orv::FitsIn in(name, true, false);
        orv::MArray<float, 2> a;
        in >> a;
        benchmark::DoNotOptimize(a.dataFirst());
    }
    std::remove(name.c_str());
}
BENCHMARK(BM_ReadImage)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
