// Timings of the convolution path: the two-dimensional FFT on its own
// (64^2 .. 1024^2 points, tables kept between calls), one convolution of a
// box with a prepared transform, and a whole fit of a PSF-convolved Sersic
// with sky (256 x 256 region, 64 x 64 PSF, 128 x 128 convolution box),
// reported per iteration of the fit.
#include "numerics/fftsg.h"
#include "numerics/nrutil.h"
#include "torvex/components.h"
#include "torvex/convolve.h"
#include "torvex/levmar.h"
#include "torvex/mkmodel.h"
#include "torvex/psf.h"
#include "torvex/workarrays.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

// A forward and a backward transform of n x n complex points and the
// division by n^2 that undoes them, so that every iteration starts from the
// same data; reported per transform.
void BM_cdft2d(benchmark::State &state)
{
    const int n = static_cast<int>(state.range(0));
    const int n1 = n, n2 = 2 * n;
    double **a = dmatrix(0, n1 - 1, 0, n2 - 1);
    std::mt19937 gen(2);
    std::uniform_real_distribution<double> u(-1, 1);
    for (int i = 0; i < n1; i++)
        for (int j = 0; j < n2; j++)
            a[i][j] = u(gen);
    std::vector<int> ip(static_cast<size_t>(std::sqrt(n + 0.5)) + 2, 0);
    std::vector<double> w(static_cast<size_t>(n2) * 3 / 2), t(8 * static_cast<size_t>(n1));
    const double back = 1.0 / (static_cast<double>(n) * n);
    for (auto _ : state) {
        cdft2d(n1, n2, 1, a, t.data(), ip.data(), w.data(), long(ip.size()), long(w.size()),
               long(t.size()));
        cdft2d(n1, n2, -1, a, t.data(), ip.data(), w.data(), long(ip.size()), long(w.size()),
               long(t.size()));
        for (int i = 0; i < n1; i++)
            for (int j = 0; j < n2; j++)
                a[i][j] *= back;
        benchmark::DoNotOptimize(a[0][0]);
    }
    const double points = static_cast<double>(n) * n;
    state.counters["ns_per_fft"] = benchmark::Counter(
        2e-9, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["flops"] = benchmark::Counter(2 * 5 * points * std::log2(points),
                                                 benchmark::Counter::kIsIterationInvariantRate);
    free_dmatrix(a, 0, n1 - 1, 0, n2 - 1);
}
BENCHMARK(BM_cdft2d)->RangeMultiplier(2)->Range(64, 1024)->Unit(benchmark::kMicrosecond);

// One convolution of an n x n box with a prepared 64 x 64 PSF transform:
// two transforms of the complex size and the product, nothing allocated.
void BM_convolve(benchmark::State &state)
{
    const long n = state.range(0);
    image k, img;
    k.naxes[1] = k.naxes[2] = 64;
    k.z = matrix(1, 64, 1, 64);
    for (long y = 1; y <= 64; y++)
        for (long x = 1; x <= 64; x++)
            k.z[y][x] = std::exp(-((x - 33.0) * (x - 33.0) + (y - 33.0) * (y - 33.0)) / 8);
    img.naxes[1] = img.naxes[2] = n;
    img.z = matrix(1, n, 1, n);
    for (long y = 1; y <= n; y++)
        for (long x = 1; x <= n; x++)
            img.z[y][x] = static_cast<float>((x * 7 + y * 13) % 17);
    long cn[3];
    double **t = psfprep(k, img.naxes, 0, cn);
    for (auto _ : state) {
        convolve(&img, t, cn);
        benchmark::DoNotOptimize(img.z[1][1]);
    }
    state.counters["complex_size"] = static_cast<double>(cn[1]);
    free_dmatrix(t, 0, cn[2] - 1, 0, 2 * cn[1] - 1);
    free_matrix(img.z, 1, n, 1, n);
    free_matrix(k.z, 1, 64, 1, 64);
}
BENCHMARK(BM_convolve)->Arg(128)->Arg(192)->Arg(256)->Unit(benchmark::kMicrosecond);

int iterations_printed = 0;

// Counts the iteration lines of the fit and prints nothing.
int count_iterations(const char *fmt, ...)
{
    if (std::strncmp(fmt, "\nIteration", 10) == 0 || std::strncmp(fmt, "Iteration", 9) == 0)
        iterations_printed++;
    return 0;
}

struct fit_setup {
    image d, s, psfimg, maskimg;
    fitpars gal, skyc;
    convpars cpar;
    cons constr;
    double **covar;
    double *sig;

    static void fill(image *im, long n, float v)
    {
        im->naxes[1] = im->naxes[2] = n;
        im->z = matrix(1, n, 1, n);
        for (long y = 1; y <= n; y++)
            for (long x = 1; x <= n; x++)
                im->z[y][x] = v;
    }

    void start_values()
    {
        const float a[11] = {0, 130.6f, 126.2f, 14.3f, 12, 2, 0, 0, 0.6f, 40, 0};
        std::memcpy(gal.a, a, sizeof a);
        for (int i = 1; i <= 10; i++)
            gal.ia[i] = (i <= 5 || i == 8 || i == 9) ? 1 : 0;
        skyc.a[1] = 9;
        skyc.a[2] = skyc.a[3] = 0;
        skyc.ia[1] = 1;
        skyc.ia[2] = skyc.ia[3] = 0;
        for (int i = 4; i <= 10; i++)
            skyc.ia[i] = 0;
    }

    fit_setup()
    {
        const long n = 256;
        pfunc = count_iterations;
        std::strcpy(device, "regular");
        std::strcpy(input.device, "regular");
        input.sampfac = 1;
        input.convbox[1] = input.convbox[2] = 128;
        input.create = 0;
        getmu(TWOn, MU, Y2, ninterp);

        fill(&psfimg, 64, 0);
        for (long y = 1; y <= 64; y++)
            for (long x = 1; x <= 64; x++)
                psfimg.z[y][x] = std::exp(-((x - 33.0) * (x - 33.0) + (y - 33.0) * (y - 33.0)) /
                                          (2 * 1.8 * 1.8));
        std::strcpy(psfimg.name, "psf.fits");
        psfcheck(&psfimg);
        psf = psfimg;
        fwhmpsf = psf_fwhm(psf);
        cpar.psfsz[1] = cpar.psfsz[2] = 64;
        cpar.sampfac = 1;
        cpar.boxsz[1] = cpar.boxsz[2] = 128;

        std::strcpy(gal.objtype, "sersic");
        std::strcpy(skyc.objtype, "sky");
        gal.next = &skyc;
        sample.nobjs = 2;

        fill(&d, n, 0);
        fill(&s, n, 3);
        fill(&maskimg, n, 0);
        mask = &maskimg;
        std::strcpy(d.imgsect, "[1:256,1:256]");
        d.magzpt = 26;
        xskycent = yskycent = (n + 1) * 0.5f;

        // The data: the truth rendered and convolved by the program, plus
        // seeded noise.
        model = d;
        model.z = nullptr;
        const float truth[11] = {0, 128.3f, 127.6f, 14, 15, 2.5f, 0, 0, 0.7f, 30, 0};
        std::memcpy(gal.a, truth, sizeof truth);
        skyc.a[1] = 10;
        create_work_arrays(&gal, &model, &df);
        // The shift image and the patches, as the fit driver makes them.
        tpsf = psf;
        tpsf.z = matrix(1, 64, 1, 64);
        cg = get_cgrid(psf);
        mkmodel(&model, &df, &gal, &cpar, 1);
        std::mt19937 gen(4);
        std::normal_distribution<double> noise(0, 3);
        for (long y = 1; y <= n; y++)
            for (long x = 1; x <= n; x++)
                d.z[y][x] = static_cast<float>(model.z[y][x] + noise(gen));
        annihilate_work_arrays(&gal, &model, &df);
        start_values();
        create_work_arrays(&gal, &model, &df);

        covar = dmatrix(1, 20, 1, 20);
        sig = dvector(1, 20);
    }
};

void BM_psf_fit(benchmark::State &state)
{
    static fit_setup f;
    long total = 0;
    for (auto _ : state) {
        f.start_values();
        iterations_printed = 0;
        int ndof = 0;
        double chi2 = LevMar(&f.d, &f.s, &f.gal, &f.constr, &f.cpar, f.covar, f.sig, &ndof, 1);
        benchmark::DoNotOptimize(chi2);
        total += iterations_printed;
    }
    state.counters["iterations"] =
        benchmark::Counter(static_cast<double>(total), benchmark::Counter::kAvgIterations);
    state.counters["s_per_iteration"] = benchmark::Counter(
        static_cast<double>(total),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_psf_fit)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
