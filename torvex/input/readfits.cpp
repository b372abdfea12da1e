#include "torvex/input/readfits.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fitsio.h>
#include <limits>
#include <string>
#include <vector>

namespace {

// One optional detector keyword as a float.  A keyword that is missing or
// not a number leaves *value alone; the status is reset either way so that
// the next keyword is still tried.
bool read_optional(fitsfile *f, const char *key, float *value)
{
    int status = 0;
    float v;
    ffgky(f, TFLOAT, key, &v, nullptr, &status);
    if (status) {
        ffcmsg();
        return false;
    }
    *value = v;
    return true;
}

// The file exists but cannot be used as a 2-D image: say which file, point
// to the extension syntax when its primary HDU is empty, and end the run
// with CFITSIO's report.
[[noreturn]] void unreadable(const char *name, bool empty_primary, int status)
{
    pfunc("\n-- ERROR: Cannot read %s as a two-dimensional FITS image.\n", name);
    if (empty_primary)
        pfunc("   Its primary HDU holds no image; name the image extension instead,\n"
              "   for example %s[1]\n",
              fits_root(name).c_str());
    printerror(status);
    exit(status); // printerror does not return for a non-zero status
}

// True when the file starts like a FITS file, so that a damaged FITS mask
// is reported instead of being read as a text list.
bool starts_as_fits(const std::string &path)
{
    char head[10] = "";
    FILE *f = fopen(path.c_str(), "rb");
    if (!f)
        return false;
    size_t n = fread(head, 1, 9, f);
    fclose(f);
    return n == 9 && std::string(head, 9) == "SIMPLE  =";
}

// A header may claim more pixels than the file holds.  The data segment is
// compared with the file's size before memory for the pixels is asked for,
// and a short file is reported as the library reports a read that meets
// the end of the file.  Tile-compressed images hold their pixels in another
// form and are left to the library.
void check_data_size(fitsfile *f, const char *name, const long naxes[2], int *status)
{
    if (fits_is_compressed_image(f, status) || *status)
        return;
    int bitpix = 0;
    LONGLONG head = 0, data = 0, end = 0;
    ffgidt(f, &bitpix, status);
    ffghadll(f, &head, &data, &end, status);
    if (*status)
        return;
    const LONGLONG bytes = f->Fptr->logfilesize - data;
    const long available = bytes > 0 ? static_cast<long>(bytes / (std::abs(bitpix) / 8)) : 0;
    if (naxes[0] <= available && naxes[1] <= available / naxes[0])
        return;
    *status = READ_ERROR;
    ffpmsg("Error reading data: the file ends before the last pixel of its image:");
    ffpmsg(name);
}

} // namespace

std::string fits_root(const char *name)
{
    int status = 0;
    std::string buf(std::string(name).size() + 1, '\0');
    ffrtnm(const_cast<char *>(name), &buf[0], &status);
    if (status) {
        ffcmsg();
        return name;
    }
    std::string root(buf.c_str());
    if (!root.empty() && root[0] == '!')
        root.erase(0, 1);
    return root;
}

void printerror(int status)
{
    if (status == 0)
        return;
    fflush(stdout);
    ffrprt(stderr, status);
    // The exit status keeps 8 bits; a status that would read as success
    // becomes 1.
    exit(status % 256 ? status : 1);
}

int readfits(image *img, fits_other other)
{
    fitsfile *f = nullptr;
    int status = 0;

    if (ffopen(&f, img->name, READONLY, &status)) {
        // Only a file that is not there is a normal outcome; one that is
        // there but does not open as FITS must not silently become "no
        // image" (a data image would turn the run into a create-only run).
        int exists = 0, st = 0;
        ffexist(img->name, &exists, &st);
        bool there = st == 0 && (exists == 1 || exists == 2);
        if (status == FILE_NOT_OPENED && !there) {
            ffcmsg();
            img->err = 1;
            return 1;
        }
        if (other == FITS_OR_TEXT && !starts_as_fits(fits_root(img->name))) {
            ffcmsg();
            img->err = 1;
            return 1;
        }
        unreadable(img->name, false, status);
    }

    img->err = 0;
    int naxis = 0, hdu = 0;
    ffghdn(f, &hdu);
    ffgidm(f, &naxis, &status);
    // The image's axes as the library sees them: those of a tile-compressed
    // image are not the NAXISn keywords of the table that holds it.
    std::vector<long> axes(static_cast<std::size_t>(std::max(naxis, 2)), 0);
    if (status == 0 && naxis >= 2)
        ffgisz(f, naxis, axes.data(), &status);
    const long naxes[2] = {axes[0], axes[1]};
    if (status == 0 && (naxis < 2 || naxes[0] < 1 || naxes[1] < 1)) {
        status = BAD_NAXIS;
        ffpmsg(naxis < 2 ? "the HDU holds no two-dimensional image (NAXIS < 2)"
                         : "NAXIS1 or NAXIS2 is not positive");
    }
    // Further axes of length 1 leave one plane; a cube would be taken for
    // its first plane alone.
    for (int k = 3; status == 0 && k <= naxis; k++) {
        if (axes[k - 1] != 1) {
            status = BAD_NAXIS;
            ffpmsg(("more than two dimensions: NAXIS" + std::to_string(k) + " = " +
                    std::to_string(axes[k - 1]) + " (further axes must have length 1)")
                       .c_str());
        }
    }
    if (status) {
        bool empty_primary = hdu == 1 && naxis == 0;
        int st = 0;
        ffclos(f, &st);
        unreadable(img->name, empty_primary, status);
    }
    check_data_size(f, img->name, naxes, &status);
    printerror(status);
    img->naxes[1] = naxes[0];
    img->naxes[2] = naxes[1];

    img->gain = 7.0f;
    if (!read_optional(f, "GAIN", &img->gain) && !read_optional(f, "CCDGAIN", &img->gain))
        read_optional(f, "ATODGAIN", &img->gain);
    img->rdnoise = 5.24f;
    read_optional(f, "RDNOISE", &img->rdnoise);
    img->ncombine = 1.0f;
    read_optional(f, "NCOMBINE", &img->ncombine);

    // An exposure time that is not positive would make the zeropoint shift
    // infinite or NaN; it counts as missing.
    int result = 0;
    float exptime = 0;
    if (read_optional(f, "EXPTIME", &exptime) && exptime > 0) {
        img->exptime = exptime;
        double shift = 2.5 * log10(static_cast<double>(exptime));
        img->magzpt = static_cast<float>(img->magzpt + shift);
        img->muzpt = static_cast<float>(img->muzpt + shift);
    } else {
        img->exptime = 1.0f;
        result = 2;
    }

    // The matrix rows are one contiguous block in FITS order, so the pixels
    // are read straight into it.  Undefined pixels (NaN, and in an integer
    // image those equal to BLANK) become NaN, so that they are no numbers
    // for the fit, as they are not.
    long n = img->naxes[1] * img->naxes[2];
    img->z = matrix(1, img->naxes[2], 1, img->naxes[1]);
    float nulval = std::numeric_limits<float>::quiet_NaN();
    int anynul = 0, bitpix = 0;
    ffgidt(f, &bitpix, &status);
    ffgpv(f, TFLOAT, 1, n, &nulval, &img->z[1][1], &anynul, &status);
    if (status) {
        free_matrix(img->z, 1, img->naxes[2], 1, img->naxes[1]);
        img->z = nullptr;
    }
    printerror(status);
    img->nblank = 0;
    if (anynul && bitpix > 0)
        img->nblank =
            std::count_if(&img->z[1][1], &img->z[1][1] + n, [](float v) { return std::isnan(v); });
    ffclos(f, &status);
    printerror(status);
    return result;
}
