#include "torvex/output/writefits.h"

#include "torvex/fit/to_mini.h"

#include <cmath>
#include <cstdio>
#include <string>

namespace {

// The OBJECT name of the template's current HDU, else its TARGNAME, else
// empty.
std::string template_object(fitsfile *t)
{
    char value[FLEN_VALUE] = "";
    int status = 0;
    if (ffgky(t, TSTRING, "OBJECT", value, nullptr, &status) == 0)
        return value;
    status = 0;
    ffcmsg();
    if (ffgky(t, TSTRING, "TARGNAME", value, nullptr, &status) == 0)
        return value;
    ffcmsg();
    return "";
}

// In an integer HDU (the data section under the data file's header) the
// NaN pixels, which were BLANK in the data, become BLANK again: converted
// like numbers they would turn into values.
void write_undefined(fitsfile *f, const float *pix, long n, int *status)
{
    int bitpix = 0;
    if (ffgidt(f, &bitpix, status) || bitpix < 0)
        return;
    for (long i = 0; i < n;) {
        if (!std::isnan(pix[i])) {
            i++;
            continue;
        }
        long j = i;
        while (j < n && std::isnan(pix[j]))
            j++;
        if (ffpprn(f, i + 1, j - i, status))
            return;
        i = j;
    }
}

// Reports a write that failed, with CFITSIO's messages, and closes what
// is open.  Returns 0, writefits' result for a failure.
int write_failed(fitsfile *f, const char *name, int status)
{
    pfunc("\n-- ERROR: Cannot write the image %s:\n", name);
    report_write_failure(f, status);
    return 0;
}

} // namespace

void report_write_failure(fitsfile *f, int status)
{
    fflush(stdout);
    ffrprt(stderr, status);
    if (f) {
        int st = 0;
        ffclos(f, &st);
        ffcmsg();
    }
}

int writefits(const char *phead, image *img, const char *object, int append)
{
    fitsfile *f = nullptr;
    int status = 0, hdu = 1;
    long naxes[2] = {img->naxes[1], img->naxes[2]};

    if (append == 0) {
        remove(img->name);
        ffinit(&f, img->name, &status);
        ffcrim(f, FLOAT_IMG, 2, naxes, &status);
        if (status)
            return write_failed(f, img->name, status);

        fitsfile *t = nullptr;
        if (phead && *phead && ffopen(&t, phead, READONLY, &status) == 0) {
            // The copy becomes a second HDU behind the empty primary image.
            ffcphd(t, f, &status);
            hdu = 2;
            std::string name = template_object(t);
            int st = 0;
            ffclos(t, &st);
            ffukls(f, "OBJECT", (name + img->imgsect).c_str(), "object name", &status);
            ffuky(f, TLONG, "NAXIS1", &naxes[0], "length of data axis 1", &status);
            ffuky(f, TLONG, "NAXIS2", &naxes[1], "length of data axis 2", &status);
            // Make CFITSIO size the data unit from the new axis lengths.
            ffrdef(f, &status);
        } else {
            status = 0;
            ffcmsg();
            ffukls(f, "OBJECT", object, "object name", &status);
        }
    } else {
        if (ffopen(&f, img->name, READWRITE, &status)) {
            pfunc("\n Can't append to image %s!\n", img->name);
            return write_failed(nullptr, img->name, status);
        }
        // The library's image-extension call writes every required card,
        // PCOUNT and GCOUNT included, and appends after the last HDU.
        ffcrim(f, FLOAT_IMG, 2, naxes, &status);
        ffghdn(f, &hdu);
        ffukls(f, "OBJECT", object, "object name", &status);
    }

    // Matrix rows are one contiguous block in FITS order.
    ffppr(f, TFLOAT, 1, naxes[0] * naxes[1], &img->z[1][1], &status);
    write_undefined(f, &img->z[1][1], naxes[0] * naxes[1], &status);
    if (status)
        return write_failed(f, img->name, status);
    if (ffclos(f, &status))
        return write_failed(nullptr, img->name, status);
    return hdu;
}
