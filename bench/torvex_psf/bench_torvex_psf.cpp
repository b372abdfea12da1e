// Timings of the convolution path: the two-dimensional FFT on its own
// (64^2 .. 1024^2 points, tables kept between calls), one convolution of a
// box with a prepared transform, and two whole fits, reported per fit and
// per iteration:
// - psf_fit: a PSF-convolved Sersic with sky (256 x 256 region, 64 x 64
//   PSF, 128 x 128 convolution box);
// - bulge_disk_fit: a de Vaucouleurs bulge and an exponential disk with sky
//   (256 x 256 region, 33 x 33 PSF, the convolution box covering the region).
// Only functions that have kept their form for a long time are called, so
// that bench/torvex_psf/compare_main.sh can build this file against an
// older revision too.
#include "numerics/fftsg.h"
#include "numerics/nrutil.h"
#include "torvex/fit/levmar.h"
#include "torvex/fit/workarrays.h"
#include "torvex/model/mkmodel.h"
#include "torvex/model/sersic.h"
#include "torvex/psf/cgrid.h"
#include "torvex/psf/convolve.h"
#include "torvex/psf/psfcheck.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <deque>
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
BENCHMARK(BM_convolve)->Arg(128)->Arg(192)->Arg(256)->Arg(290)->Unit(benchmark::kMicrosecond);

int iterations_printed = 0;

// Counts the iteration lines of the fit and prints nothing.
int count_iterations(const char *fmt, ...)
{
    if (std::strncmp(fmt, "\nIteration", 10) == 0 || std::strncmp(fmt, "Iteration", 9) == 0)
        iterations_printed++;
    return 0;
}

struct component {
    const char *type;
    float truth[11], start[11];
    int free[11];
};

// One fit problem: a square region with data made by the program itself
// (the truth rendered and convolved, plus seeded noise), a square Gaussian
// PSF and the component list with its start values.  The globals of the
// program are set by activate(), so several problems can share a process.
class fit_case {
public:
    fit_case(long n, long psfn, double psf_sigma, long box, std::vector<component> comps)
        : n_(n), psfn_(psfn), box_(box), comps_(std::move(comps))
    {
        fill(&psfimg_, psfn, 0);
        const double c = psfn / 2 + 1;
        for (long y = 1; y <= psfn; y++)
            for (long x = 1; x <= psfn; x++)
                psfimg_.z[y][x] = static_cast<float>(std::exp(
                    -((x - c) * (x - c) + (y - c) * (y - c)) / (2 * psf_sigma * psf_sigma)));
        std::strcpy(psfimg_.name, "psf.fits");
        psfcheck(&psfimg_); // an odd size gains a zero row and column
        cpar_.psfsz[1] = psfimg_.naxes[1];
        cpar_.psfsz[2] = psfimg_.naxes[2];
        cpar_.sampfac = 1;
        cpar_.boxsz[1] = cpar_.boxsz[2] = box;
        fwhm_ = psf_fwhm(psfimg_);
        tpsf_ = psfimg_;
        tpsf_.z = matrix(1, psfimg_.naxes[2], 1, psfimg_.naxes[1]);
        cg_ = get_cgrid(psfimg_);

        for (size_t i = 0; i < comps_.size(); i++) {
            list_.emplace_back();
            std::strcpy(list_.back().objtype, comps_[i].type);
            if (i > 0)
                list_[i - 1].next = &list_[i];
        }
        fill(&d_, n, 0);
        fill(&s_, n, 3);
        fill(&mask_, n, 0);
        snprintf(d_.imgsect, sizeof d_.imgsect, "[1:%ld,1:%ld]", n, n);
        d_.magzpt = 26;

        activate();
        set(true);
        mkmodel(&model, &df, &list_[0], &cpar_, 1);
        std::mt19937 gen(4);
        std::normal_distribution<double> noise(0, 3);
        for (long y = 1; y <= n; y++)
            for (long x = 1; x <= n; x++)
                d_.z[y][x] = static_cast<float>(model.z[y][x] + noise(gen));
        const int ma = 10 * static_cast<int>(comps_.size());
        covar_ = dmatrix(1, ma, 1, ma);
        sig_ = dvector(1, ma);
    }

    // Makes this problem the one the program's globals describe.
    void activate()
    {
        if (active_ == this)
            return;
        if (active_)
            annihilate_work_arrays(&active_->list_[0], &model, &df);
        active_ = this;
        pfunc = count_iterations;
        std::strcpy(device, "regular");
        std::strcpy(input.device, "regular");
        input.sampfac = 1;
        input.convbox[1] = input.convbox[2] = static_cast<float>(box_);
        input.create = 0;
        getmu(TWOn, MU, Y2, ninterp);
        psf = psfimg_;
        fwhmpsf = fwhm_;
        tpsf = tpsf_;
        cg = cg_;
        conv_cache_clear();
        mask = &mask_;
        xskycent = yskycent = (n_ + 1) * 0.5f;
        sample.nobjs = static_cast<int>(comps_.size());
        model = d_;
        model.z = nullptr;
        set(false);
        create_work_arrays(&list_[0], &model, &df);
    }

    // One fit from the start values; returns chi^2 and counts iterations.
    double fit()
    {
        activate();
        set(false);
        int ndof = 0;
        return LevMar(&d_, &s_, &list_[0], &constr_, &cpar_, covar_, sig_, &ndof, 1);
    }

private:
    static void fill(image *im, long n, float v)
    {
        im->naxes[1] = im->naxes[2] = n;
        im->z = matrix(1, n, 1, n);
        for (long y = 1; y <= n; y++)
            for (long x = 1; x <= n; x++)
                im->z[y][x] = v;
    }

    void set(bool truth)
    {
        for (size_t i = 0; i < comps_.size(); i++) {
            std::memcpy(list_[i].a, truth ? comps_[i].truth : comps_[i].start, sizeof list_[i].a);
            std::memcpy(list_[i].ia, comps_[i].free, sizeof list_[i].ia);
        }
    }

    long n_, psfn_, box_;
    std::vector<component> comps_;
    std::deque<fitpars> list_;
    image d_, s_, mask_, psfimg_, tpsf_;
    bicubic_grid **cg_ = nullptr;
    float fwhm_ = 0;
    convpars cpar_;
    cons constr_;
    double **covar_ = nullptr;
    double *sig_ = nullptr;
    static fit_case *active_;
};

fit_case *fit_case::active_ = nullptr;

void run_fit(benchmark::State &state, fit_case &f)
{
    long total = 0;
    double chi2 = 0;
    for (auto _ : state) {
        iterations_printed = 0;
        chi2 = f.fit();
        benchmark::DoNotOptimize(chi2);
        total += iterations_printed;
    }
    // The final chi^2, so that two builds can be seen to fit alike.
    state.counters["chi2"] = chi2;
    state.counters["iterations"] =
        benchmark::Counter(static_cast<double>(total), benchmark::Counter::kAvgIterations);
    state.counters["s_per_iteration"] = benchmark::Counter(
        static_cast<double>(total), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_psf_fit(benchmark::State &state)
{
    // A Sersic on a sky: seven of its parameters and the sky level free;
    // the PSF (FWHM 4.2 pixels) is moved by its bicubic patches.
    static fit_case f(256, 64, 1.8, 128,
                      {{"sersic",
                        {0, 128.3f, 127.6f, 14, 15, 2.5f, 0, 0, 0.7f, 30, 0},
                        {0, 130.6f, 126.2f, 14.3f, 12, 2, 0, 0, 0.6f, 40, 0},
                        {0, 1, 1, 1, 1, 1, 0, 0, 1, 1, 0}},
                       {"sky", {0, 10}, {0, 9}, {0, 1}}});
    run_fit(state, f);
}
BENCHMARK(BM_psf_fit)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_bulge_disk_fit(benchmark::State &state)
{
    // A de Vaucouleurs bulge inside an exponential disk, 14 parameters and
    // the sky level free; the PSF (FWHM 2.8 pixels) is moved by the
    // windowed sinc.  The box of 256 pixels and the PSF's margin make a
    // 290 x 290 grid per component.
    static fit_case f(256, 33, 1.2, 256,
                      {{"devauc",
                        {0, 128.4f, 127.7f, 15.5f, 6, 4, 0, 0, 0.8f, 20, 0},
                        {0, 129.0f, 127.0f, 15.9f, 8, 4, 0, 0, 0.9f, 30, 0},
                        {0, 1, 1, 1, 1, 0, 0, 0, 1, 1, 0}},
                       {"expdisk",
                        {0, 128.4f, 127.7f, 14.5f, 25, 0, 0, 0, 0.45f, 35, 0},
                        {0, 129.0f, 127.0f, 14.2f, 20, 0, 0, 0, 0.55f, 45, 0},
                        {0, 1, 1, 1, 1, 0, 0, 0, 1, 1, 0}},
                       {"sky", {0, 10}, {0, 9}, {0, 1}}});
    run_fit(state, f);
}
BENCHMARK(BM_bulge_disk_fit)->Unit(benchmark::kMillisecond)->Iterations(2);

} // namespace
