// Kernel transforms and the FFT convolution.
#include "torvex/psf/convolve.h"
#include "torvex/output/writefits.h"

#include "numerics/fftsg.h"
#include "numerics/nrutil.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>

namespace {

// The FFT tables, the column work area and the work rows of one complex
// size.  They are made the first time the size is used and kept for the
// run: every later transform of that size reuses them, and the tables,
// built once, give the same numbers as freshly built ones.
//
// The convolutions transform real images with the real transforms, so a
// work row holds cn1 real values.  Rows are made only as far as an image
// has needed them: the rows below the image are zero and never touched.
struct fftspace {
    long cn1 = 0, cn2 = 0;
    std::vector<int> ip;
    std::vector<double> w, t;
    padded_matrix work;     // the work rows, as many as an image has needed
    std::vector<char> live; // kernel rows that hold pixels

    // Work rows 0 .. n - 1 of cn1 doubles each.
    double **work_rows(long n)
    {
        if (n > static_cast<long>(work.rows.size()))
            work.make(n, cn1);
        return work.rows.data();
    }
};

std::deque<fftspace> spaces; // a deque keeps references valid as it grows

fftspace &fft_space(long cn1, long cn2)
{
    for (fftspace &s : spaces)
        if (s.cn1 == cn1 && s.cn2 == cn2)
            return s;
    spaces.emplace_back();
    fftspace &s = spaces.back();
    s.cn1 = cn1;
    s.cn2 = cn2;
    // Real rows of cn1 values, columns of cn2 complex values: a cos/sin
    // table for max(2 cn2, cn1) doubles and a cosine table for cn1.
    const long nw = (2 * cn2 > cn1 ? 2 * cn2 : cn1) / 4, nc = cn1 / 4;
    s.ip.assign(static_cast<size_t>(std::sqrt(static_cast<double>(nw)) + 4), 0);
    s.w.assign(static_cast<size_t>(nw + nc + 2), 0.0); // ip[1] = 1 after makewt
    // Blocks of up to 16 complex columns through the work area.
    s.t.assign(static_cast<size_t>(32 * cn2), 0.0);
    s.live.assign(static_cast<size_t>(cn2), 0);
    return s;
}

long pow2_above(long n)
{
    long p = 2;
    while (p < n)
        p *= 2;
    return p;
}

// Non-negative remainder, so that kernel pixels left of or below the
// centre wrap to the far columns and rows.
long wrap(long i, long n)
{
    long r = i % n;
    return r < 0 ? r + n : r;
}

void complex_size(const long model_naxes[3], long knx, long kny, int add0pad, long cn[3])
{
    long tx = model_naxes[1], ty = model_naxes[2];
    if (add0pad) {
        tx += 2 * static_cast<long>(round_half_away(knx / 2.0));
        ty += 2 * static_cast<long>(round_half_away(kny / 2.0));
    }
    cn[0] = 0;
    cn[1] = pow2_above(tx);
    cn[2] = pow2_above(ty);
}

// The transform of the kernel scaled to unit sum with its centre pixel at
// the origin, divided by cn1*cn2, into out (cn2 rows of 2*cn1 doubles).
// The kernel is real, so its rows go in as real rows and the real
// transform makes the spectrum; the rows that no kernel pixel reaches are
// zero and are neither cleared nor transformed along the rows.
void prepare_into(const image &k, const long cn[3], double **out)
{
    const long cn1 = cn[1], cn2 = cn[2];
    const long nx = k.naxes[1], ny = k.naxes[2];
    fftspace &s = fft_space(cn1, cn2);

    float sum = 0;
    for (long r = 1; r <= ny; r++)
        for (long c = 1; c <= nx; c++)
            sum += k.z[r][c];
    // A kernel that sums to 0 cannot be brought to unit sum; it is used as
    // it stands rather than turned into infinities.
    if (sum == 0)
        sum = 1;

    // The division by cn1*cn2, a power of two, is exact wherever it is
    // made: here, before the transform, it costs no pass of its own.
    const double inv_n = 1.0 / static_cast<double>(cn1 * cn2);
    const long hx = static_cast<long>(round_half_away(nx / 2.0));
    const long hy = static_cast<long>(round_half_away(ny / 2.0));
    std::fill(s.live.begin(), s.live.end(), 0);
    for (long r = 1; r <= ny; r++) {
        const long i = wrap(r - hy - 1, cn2);
        if (!s.live[i]) {
            s.live[i] = 1;
            std::memset(out[i], 0, sizeof(double) * cn1);
        }
    }
    for (long r = 1; r <= ny; r++) {
        double *row = out[wrap(r - hy - 1, cn2)];
        for (long c = 1; c <= nx; c++)
            row[wrap(c - hx - 1, cn1)] += (k.z[r][c] / sum) * inv_n;
    }

    rdft2d_spectrum(static_cast<int>(cn2), static_cast<int>(cn1), out, s.live.data(), 1, s.t.data(),
                    s.ip.data(), s.w.data(), static_cast<long>(s.ip.size()),
                    static_cast<long>(s.w.size()), static_cast<long>(s.t.size()));
}

// The transform caches of the program; their transforms live until the
// process ends or conv_cache_clear is called.
prepcache kernel_transforms;
prepcache sinc_transforms;
prepcache box_transforms;

} // namespace

double **psfprep(image psf, long model_naxes[3], int add0pad, long complex_naxes[3])
{
    complex_size(model_naxes, psf.naxes[1], psf.naxes[2], add0pad, complex_naxes);
    double **t = dmatrix(0, complex_naxes[2] - 1, 0, 2 * complex_naxes[1] - 1);
    prepare_into(psf, complex_naxes, t);
    return t;
}

void complmultipl(double *ar1, double *ar2, long n)
{
    for (long k = 0; k < n; k++) {
        const double re = ar1[2 * k], im = ar1[2 * k + 1];
        ar1[2 * k] = re * ar2[2 * k] - im * ar2[2 * k + 1];
        ar1[2 * k + 1] = re * ar2[2 * k + 1] + im * ar2[2 * k];
    }
}

void mkimg(float **array, long naxes[3], const char *outname, const char *tname)
{
    image img;
    snprintf(img.name, sizeof img.name, "%s", outname);
    img.z = array;
    img.naxes[1] = naxes[1];
    img.naxes[2] = naxes[2];
    writefits(tname, &img, "", 0);
}

void convolve(image *model, double **fftpsf, long complex_naxes[3])
{
    const long nx = model->naxes[1], ny = model->naxes[2];
    const long cn1 = complex_naxes[1], cn2 = complex_naxes[2];
    if (nx <= 0 || ny <= 0)
        return;
    if (nx > cn1 || ny > cn2)
        nrerror("convolve: the image is larger than the transform it is convolved with");

    // The image as real rows, pixel (1, 1) at the origin; the zeros beyond
    // its rows are implied, those beyond its columns are written.
    fftspace &s = fft_space(cn1, cn2);
    double **a = s.work_rows(ny);
    for (long i = 0; i < ny; i++) {
        double *row = a[i];
        const float *z = model->z[i + 1];
        for (long j = 0; j < nx; j++)
            row[j] = z[j + 1];
        std::memset(row + nx, 0, sizeof(double) * (cn1 - nx));
    }

    rdft2d_convolve(static_cast<int>(cn2), static_cast<int>(cn1), a, static_cast<int>(ny), fftpsf,
                    s.t.data(), s.ip.data(), s.w.data(), static_cast<long>(s.ip.size()),
                    static_cast<long>(s.w.size()), static_cast<long>(s.t.size()));

    for (long i = 0; i < ny; i++) {
        float *z = model->z[i + 1];
        const double *row = a[i];
        for (long j = 0; j < nx; j++)
            z[j + 1] = static_cast<float>(row[j]);
    }
}

float **scratch_matrix::get(long nr, long nc)
{
    // Element 0 of every row is spare, so that rows index from 1.
    const size_t need = static_cast<size_t>(nr) * static_cast<size_t>(nc + 1);
    if (data.size() < need)
        data.resize(need);
    if (rows.size() < static_cast<size_t>(nr) + 1)
        rows.resize(nr + 1);
    rows[0] = nullptr;
    for (long r = 1; r <= nr; r++)
        rows[r] = &data[static_cast<size_t>(r - 1) * (nc + 1)];
    return rows.data();
}

void padded_matrix::make(long nr, long nc)
{
    const long stride = nc + 8;
    store.reset(new double[static_cast<size_t>(nr * stride + 8)]);
    const size_t skip = (64 - reinterpret_cast<uintptr_t>(store.get()) % 64) % 64 / 8;
    rows.resize(static_cast<size_t>(nr));
    for (long i = 0; i < nr; i++)
        rows[i] = store.get() + skip + i * stride;
}

prepcache::~prepcache()
{
    prepcache_clear(this);
}

void prepcache_clear(prepcache *c)
{
    c->entries.clear();
}

double **psfprep_cached(prepcache *c, const image &kernel, const long model_naxes[3], int add0pad,
                        long complex_naxes[3])
{
    const long nx = kernel.naxes[1], ny = kernel.naxes[2];
    complex_size(model_naxes, nx, ny, add0pad, complex_naxes);
    const long cn1 = complex_naxes[1], cn2 = complex_naxes[2];
    c->clock++;

    // The transform depends only on the kernel's pixels and the complex
    // size, so an entry with both equal holds exactly what would be made.
    prepcache::entry *oldest = nullptr;
    int same_size = 0;
    for (prepcache::entry &e : c->entries) {
        if (e.cn[1] != cn1 || e.cn[2] != cn2)
            continue;
        same_size++;
        if (!oldest || e.used < oldest->used)
            oldest = &e;
        if (e.knx != nx || e.kny != ny)
            continue;
        bool equal = true;
        const float *p = e.pixels.data();
        for (long r = 1; r <= ny && equal; r++, p += nx)
            equal = std::memcmp(p, &kernel.z[r][1], sizeof(float) * nx) == 0;
        if (equal) {
            e.used = c->clock;
            return e.t.rows.data();
        }
    }

    // Keep at most per_size transforms of one size, and no more than about
    // 8 MB of them (but always one); beyond that the least recently used
    // one is made over.  A kept transform pays only when the same kernel
    // comes again, as it does for a component whose position is held, so
    // large transforms are not hoarded.
    const double bytes = 16.0 * cn1 * cn2;
    int limit = static_cast<int>(8.5e6 / bytes);
    limit = limit < 1 ? 1 : limit > c->per_size ? c->per_size : limit;
    prepcache::entry *e = oldest;
    if (!e || same_size < limit) {
        c->entries.emplace_back();
        e = &c->entries.back();
        e->t.make(cn2, 2 * cn1);
        e->cn[1] = cn1;
        e->cn[2] = cn2;
    }
    e->knx = nx;
    e->kny = ny;
    e->pixels.resize(static_cast<size_t>(nx > 0 && ny > 0 ? nx * ny : 0));
    for (long r = 1; r <= ny; r++)
        std::memcpy(&e->pixels[static_cast<size_t>((r - 1) * nx)], &kernel.z[r][1],
                    sizeof(float) * nx);
    e->used = c->clock;
    prepare_into(kernel, complex_naxes, e->t.rows.data());
    return e->t.rows.data();
}

prepcache *sinc_cache()
{
    return &sinc_transforms;
}

prepcache *box_cache()
{
    return &box_transforms;
}

prepcache *kernel_cache()
{
    return &kernel_transforms;
}

void conv_cache_clear()
{
    prepcache_clear(&kernel_transforms);
    prepcache_clear(&sinc_transforms);
    prepcache_clear(&box_transforms);
}
