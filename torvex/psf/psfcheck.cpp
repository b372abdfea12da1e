// The PSF as read: even sizes, the charge-diffusion kernel and the FWHM.
#include "torvex/psf/psfcheck.h"

#include "torvex/psf/shift_psf.h"

#include "numerics/nrutil.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The nx x ny pixels value(row, column) (1-based) in a new matrix of even
// sizes, which go into naxes: an odd axis gains one zero row or column at
// its start, so that the centre pixel is (nx/2 + 1, ny/2 + 1) as for every
// kernel of the convolution.
template <class Value>
float **even_matrix(long nx, long ny, Value value, long naxes[3])
{
    const long ox = nx % 2, oy = ny % 2;
    const long nnx = nx + ox, nny = ny + oy;
    float **z = matrix(1, nny, 1, nnx);
    std::fill(&z[1][1], &z[1][1] + nnx * nny, 0.0f);
    for (long r = 1; r <= ny; r++)
        for (long c = 1; c <= nx; c++)
            z[r + oy][c + ox] = value(r, c);
    naxes[1] = nnx;
    naxes[2] = nny;
    return z;
}

} // namespace

int psfcheck(image *psf)
{
    const long nx = psf->naxes[1], ny = psf->naxes[2];
    if (nx < 2 || ny < 2) {
        pfunc("-- The PSF image %s has %ld x %ld pixels; it needs at least 2 x 2.\n", psf->name, nx,
              ny);
        return 1;
    }
    // Oversampled by E, the PSF spans nx/E by ny/E data pixels; less than
    // one is no PSF of these data (and E would only make work grids of
    // sizes beyond any memory).
    if (input.sampfac > nx || input.sampfac > ny) {
        pfunc("-- The PSF image %s has %ld x %ld pixels; oversampled by %d (E), it spans\n"
              "   less than one data pixel.\n",
              psf->name, nx, ny, input.sampfac);
        return 1;
    }
    const double sum = sum_matrix(psf->z, ny, nx);
    // The PSF is scaled to unit sum wherever it is used.
    if (sum == 0 || !std::isfinite(sum)) {
        pfunc("-- The pixels of the PSF image %s sum to %g; it cannot be normalised.\n", psf->name,
              sum);
        return 1;
    }

    if (nx % 2 == 0 && ny % 2 == 0)
        return 0;
    float **odd = psf->z;
    psf->z = even_matrix(
        nx, ny, [odd](long r, long c) { return odd[r][c]; }, psf->naxes);
    free_matrix(odd, 1, ny, 1, nx);
    return 0;
}

namespace {

// The numbers of one line, separated by any white space, into v; false
// when a word is not wholly a number (a comment, a decimal comma), which
// would otherwise be read as 0 or as its leading digits.
bool line_numbers(const std::string &line, std::vector<double> *v)
{
    std::istringstream in(line);
    std::string field;
    while (in >> field) {
        char *end = nullptr;
        v->push_back(strtod(field.c_str(), &end));
        if (end != field.c_str() + field.size())
            return false;
    }
    return true;
}

bool blank(const std::string &line)
{
    return line.find_first_not_of(" \t\r\n\v\f") == std::string::npos;
}

} // namespace

image *getkernel(const char *input_kernel)
{
    std::ifstream in(input_kernel);
    if (!in)
        return nullptr;

    std::vector<std::vector<double>> rows;
    std::string line;
    while (std::getline(in, line)) {
        if (blank(line))
            continue;
        rows.emplace_back();
        if (!line_numbers(line, &rows.back()) || rows.back().size() != rows.front().size())
            return nullptr;
    }
    if (rows.empty() || (rows.size() == 1 && rows[0].size() <= 1))
        return nullptr;

    const long w = static_cast<long>(rows[0].size());
    const long h = static_cast<long>(rows.size());
    double sum = 0;
    for (const auto &row : rows)
        for (double v : row)
            sum += v;
    // Applied after scaling to unit sum; such a kernel cannot be scaled.
    if (sum == 0 || !std::isfinite(sum))
        return nullptr;

    // Odd sizes are padded as for the PSF.
    image *k = new image;
    k->z = even_matrix(
        w, h, [&rows](long r, long c) { return static_cast<float>(rows[r - 1][c - 1]); }, k->naxes);
    return k;
}

float psf_fwhm(image psf)
{
    const long nx = psf.naxes[1], ny = psf.naxes[2];
    if (nx < 1 || ny < 1)
        return 0;
    float p = psf.z[1][1];
    long rowc = 1, colc = 1;
    for (long r = 1; r <= ny; r++)
        for (long c = 1; c <= nx; c++)
            if (psf.z[r][c] > p) {
                p = psf.z[r][c];
                rowc = r;
                colc = c;
            }
    if (!(p > 0))
        return 0;
    const float hm = p / 2;

    // Along the peak's row and column; a pixel beyond the border counts as
    // 0, which is below hm, so a profile that is still bright at the border
    // crosses half the maximum between the border pixel and the next.  The
    // peak itself lies above hm, so both searches end inside.
    auto width = [hm](auto at, long n) {
        long l = 1;
        while (!(at(l) > hm))
            l++;
        const float left = (l - 1) + (hm - at(l - 1)) / (at(l) - at(l - 1));
        long r = n;
        while (!(at(r) > hm))
            r--;
        const float right = (r + 1) - (hm - at(r + 1)) / (at(r) - at(r + 1));
        return right - left;
    };
    auto at_x = [&](long c) { return c >= 1 && c <= nx ? psf.z[rowc][c] : 0.0f; };
    auto at_y = [&](long r) { return r >= 1 && r <= ny ? psf.z[r][colc] : 0.0f; };

    const float fwhm = (width(at_x, nx) + width(at_y, ny)) / 2;
    return fwhm < 3 ? fwhm - 0.5f : fwhm;
}
