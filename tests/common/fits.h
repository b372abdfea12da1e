// FITS files written and read back with CFITSIO directly, the independent
// side of every check of the programs' own FITS code, and fitsverify's
// verdict on a file.
#ifndef TESTS_COMMON_FITS_H
#define TESTS_COMMON_FITS_H

#include "common/program.h"
#include "common/scratch.h"

#include <fitsio.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

namespace test_common {

struct Key {
    std::string name;
    std::string value; // written as a number when it parses as one
};

// Writes a float image (or BITPIX bitpix) whose pixel (x, y), 1-based, is
// pix(x, y), with the given keywords, into the primary HDU of path.
template <typename F>
void write_image(const std::string &path, long nx, long ny, F pix,
                 const std::vector<Key> &keys = {}, int bitpix = FLOAT_IMG)
{
    fitsfile *f = nullptr;
    int status = 0;
    long naxes[2] = {nx, ny};
    ffinit(&f, ("!" + path).c_str(), &status);
    ffcrim(f, bitpix, 2, naxes, &status);
    for (const Key &k : keys) {
        char *end = nullptr;
        double v = strtod(k.value.c_str(), &end);
        if (!k.value.empty() && *end == '\0')
            ffuky(f, TDOUBLE, k.name.c_str(), &v, nullptr, &status);
        else
            ffuky(f, TSTRING, k.name.c_str(), const_cast<char *>(k.value.c_str()), nullptr,
                  &status);
    }
    std::vector<float> v(nx * ny);
    for (long y = 1; y <= ny; y++)
        for (long x = 1; x <= nx; x++)
            v[(y - 1) * nx + (x - 1)] = pix(x, y);
    ffppr(f, TFLOAT, 1, nx * ny, v.data(), &status);
    ffclos(f, &status);
    ASSERT_EQ(status, 0) << "writing " << path;
}

// Writes a 16-bit integer image with BLANK = -32768 into the primary HDU
// of path: pixel (x, y) is the value pix(x, y), or BLANK where blank(x, y).
template <typename F, typename B>
void write_short_image(const std::string &path, long nx, long ny, F pix, B blank,
                       const std::vector<Key> &keys = {})
{
    fitsfile *f = nullptr;
    int status = 0;
    long naxes[2] = {nx, ny};
    ffinit(&f, ("!" + path).c_str(), &status);
    ffcrim(f, SHORT_IMG, 2, naxes, &status);
    long blankval = -32768;
    ffpkyj(f, "BLANK", blankval, "undefined pixel", &status);
    for (const Key &k : keys) {
        double v = strtod(k.value.c_str(), nullptr);
        ffuky(f, TDOUBLE, k.name.c_str(), &v, nullptr, &status);
    }
    std::vector<short> v(nx * ny);
    for (long y = 1; y <= ny; y++)
        for (long x = 1; x <= nx; x++)
            v[(y - 1) * nx + (x - 1)] = blank(x, y) ? static_cast<short>(blankval)
                                                    : static_cast<short>(std::lround(pix(x, y)));
    ffppr(f, TSHORT, 1, nx * ny, v.data(), &status);
    ffclos(f, &status);
    ASSERT_EQ(status, 0) << "writing " << path;
}

// One HDU of a file as read back by CFITSIO.
struct Hdu {
    int status = 0;
    long nx = 0, ny = 0;
    int bitpix = 0;
    std::vector<float> pix;         // x fastest
    std::vector<std::string> names; // keyword names in order (COMMENT too)
    std::vector<std::string> cards; // whole cards

    float at(long x, long y) const { return pix[(y - 1) * nx + (x - 1)]; }

    // A string keyword's value, long strings (CONTINUE) included; "<none>"
    // when it is missing.
    std::string text(const std::string &key) const { return lookup(key, true); }
    // The value text of any keyword as it stands in the card.
    std::string raw(const std::string &key) const { return lookup(key, false); }

    std::string file;
    int number = 0;

private:
    std::string lookup(const std::string &key, bool as_string) const
    {
        fitsfile *f = nullptr;
        int st = 0;
        std::string out = "<none>";
        ffopen(&f, file.c_str(), READONLY, &st);
        ffmahd(f, number, nullptr, &st);
        if (as_string) {
            char *value = nullptr;
            if (ffgkls(f, key.c_str(), &value, nullptr, &st) == 0)
                out = value;
            if (value)
                fffree(value, &st);
        } else {
            char value[FLEN_VALUE];
            if (ffgkey(f, key.c_str(), value, nullptr, &st) == 0)
                out = value;
        }
        st = 0;
        ffclos(f, &st);
        return out;
    }
};

inline int count_hdus(const std::string &path)
{
    fitsfile *f = nullptr;
    int status = 0, n = 0;
    ffopen(&f, path.c_str(), READONLY, &status);
    ffthdu(f, &n, &status);
    ffclos(f, &status);
    return status ? -1 : n;
}

inline Hdu read_hdu(const std::string &path, int number)
{
    Hdu h;
    h.file = path;
    h.number = number;
    fitsfile *f = nullptr;
    int &st = h.status;
    ffopen(&f, path.c_str(), READONLY, &st);
    ffmahd(f, number, nullptr, &st);
    int nkeys = 0;
    ffghsp(f, &nkeys, nullptr, &st);
    for (int i = 1; i <= nkeys && st == 0; i++) {
        char card[FLEN_CARD], name[FLEN_KEYWORD];
        int len = 0;
        ffgrec(f, i, card, &st);
        ffgknm(card, name, &len, &st);
        h.cards.push_back(card);
        h.names.push_back(name);
    }
    int naxis = 0;
    long naxes[2] = {0, 0};
    ffgipr(f, 2, &h.bitpix, &naxis, naxes, &st);
    h.nx = naxes[0];
    h.ny = naxes[1];
    if (st == 0 && naxis == 2) {
        h.pix.resize(h.nx * h.ny);
        float nul = 0;
        int anynul = 0;
        ffgpv(f, TFLOAT, 1, h.nx * h.ny, &nul, h.pix.data(), &anynul, &st);
    }
    int st2 = 0;
    ffclos(f, &st2);
    return h;
}

// fitsverify's verdict on a file: its report, and whether it found errors.
struct Verdict {
    bool clean = false;
    std::string report;
};

inline Verdict fitsverify(const std::string &path)
{
    Verdict v;
    v.report = output_of("fitsverify '" + path + "' 2>&1");
    v.clean = v.report.find("and 0 error(s)") != std::string::npos;
    return v;
}

} // namespace test_common

#endif
