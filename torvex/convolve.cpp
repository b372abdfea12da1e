// Kernel transforms and the FFT convolution.
#include "torvex/convolve.h"
#include "torvex/fitsimg.h"
#include "torvex/mkmodel.h"

#include "numerics/fftsg.h"
#include "numerics/nrutil.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>

namespace {

// The FFT tables, the column work area and the work matrix of one complex
// size.  They are made the first time the size is used and kept for the
// run: every later transform of that size reuses them, and the tables,
// built once, give the same numbers as freshly built ones.
struct fftspace {
    long cn1 = 0, cn2 = 0;
    long nip = 0, nw = 0, nt = 0;
    int *ip = nullptr;
    double *w = nullptr;
    double *t = nullptr;
    double **a = nullptr; // cn2 rows of 2*cn1 doubles
};

struct fftspaces {
    std::deque<fftspace> list; // a deque keeps references valid as it grows
    ~fftspaces()
    {
        for (fftspace &s : list) {
            free_ivector(s.ip, 0, s.nip - 1);
            free_dvector(s.w, 0, s.nw - 1);
            free_dvector(s.t, 0, s.nt - 1);
            free_dmatrix(s.a, 0, s.cn2 - 1, 0, 2 * s.cn1 - 1);
        }
    }
};

fftspaces spaces;

fftspace &fft_space(long cn1, long cn2)
{
    for (fftspace &s : spaces.list)
        if (s.cn1 == cn1 && s.cn2 == cn2)
            return s;
    fftspace s;
    s.cn1 = cn1;
    s.cn2 = cn2;
    const long nmax = cn1 > cn2 ? cn1 : cn2;
    s.nip = static_cast<long>(std::sqrt(nmax + 0.5)) + 2;
    s.nw = (2 * cn1 > cn2 ? 2 * cn1 : cn2) * 3 / 2;
    // Rows of 2*cn1 doubles: columns go through t four at a time when a row
    // holds more than two complex numbers.
    s.nt = cn1 > 2 ? 8 * cn2 : 4 * cn2;
    s.ip = ivector(0, s.nip - 1);
    s.ip[0] = 0;
    s.ip[1] = 0;
    s.w = dvector(0, s.nw - 1);
    s.t = dvector(0, s.nt - 1);
    s.a = dmatrix(0, cn2 - 1, 0, 2 * cn1 - 1);
    spaces.list.push_back(s);
    return spaces.list.back();
}

void transform(fftspace &s, double **a, int isgn)
{
    cdft2d(static_cast<int>(s.cn2), static_cast<int>(2 * s.cn1), isgn, a, s.t, s.ip, s.w,
           s.nip, s.nw, s.nt);
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
void prepare_into(const image &k, const long cn[3], double **out)
{
    const long cn1 = cn[1], cn2 = cn[2];
    const long nx = k.naxes[1], ny = k.naxes[2];
    fftspace &s = fft_space(cn1, cn2);

    for (long i = 0; i < cn2; i++)
        std::memset(out[i], 0, sizeof(double) * 2 * cn1);

    float sum = 0;
    for (long r = 1; r <= ny; r++)
        for (long c = 1; c <= nx; c++)
            sum += k.z[r][c];
    // A kernel that sums to 0 cannot be brought to unit sum; it is used as
    // it stands rather than turned into infinities.
    if (sum == 0)
        sum = 1;

    const long hx = static_cast<long>(round_half_away(nx / 2.0));
    const long hy = static_cast<long>(round_half_away(ny / 2.0));
    for (long r = 1; r <= ny; r++) {
        double *row = out[wrap(r - hy - 1, cn2)];
        for (long c = 1; c <= nx; c++)
            row[2 * wrap(c - hx - 1, cn1)] += k.z[r][c] / sum;
    }

    transform(s, out, 1);
    const double n = static_cast<double>(cn1 * cn2);
    for (long i = 0; i < cn2; i++)
        for (long j = 0; j < 2 * cn1; j++)
            out[i][j] /= n;
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

    fftspace &s = fft_space(cn1, cn2);
    double **a = s.a;
    for (long i = 0; i < cn2; i++) {
        double *row = a[i];
        std::memset(row, 0, sizeof(double) * 2 * cn1);
        if (i < ny) {
            const float *z = model->z[i + 1];
            for (long j = 0; j < nx; j++)
                row[2 * j] = z[j + 1];
        }
    }

    transform(s, a, 1);
    for (long i = 0; i < cn2; i++)
        complmultipl(a[i], fftpsf[i], cn1);
    transform(s, a, -1);

    for (long i = 0; i < ny; i++) {
        float *z = model->z[i + 1];
        const double *row = a[i];
        for (long j = 0; j < nx; j++)
            z[j + 1] = static_cast<float>(row[2 * j]);
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

prepcache::~prepcache()
{
    prepcache_clear(this);
}

void prepcache_clear(prepcache *c)
{
    for (prepcache::entry &e : c->entries)
        free_dmatrix(e.t, 0, e.cn[2] - 1, 0, 2 * e.cn[1] - 1);
    c->entries.clear();
}

double **psfprep_cached(prepcache *c, const image &kernel, const long model_naxes[3],
                        int add0pad, long complex_naxes[3])
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
            return e.t;
        }
    }

    // Keep at most per_size transforms of one size, and no more than about
    // 64 MB of them; beyond that the least recently used one is made over.
    const double bytes = 16.0 * cn1 * cn2;
    int limit = static_cast<int>(64e6 / bytes);
    limit = limit < 1 ? 1 : limit > c->per_size ? c->per_size : limit;
    prepcache::entry *e = oldest;
    if (!e || same_size < limit) {
        c->entries.emplace_back();
        e = &c->entries.back();
        e->t = dmatrix(0, cn2 - 1, 0, 2 * cn1 - 1);
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
    prepare_into(kernel, complex_naxes, e->t);
    return e->t;
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
