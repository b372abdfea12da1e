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
#include <type_traits>
#include <vector>

namespace test_common {

struct Key {
    std::string name;
    std::string value; // written as a number when it parses as one
};

// A 2-D image, pixel (x, y) at index (y - 1) nx + (x - 1), x and y from 1.
struct Image {
    int nx = 0, ny = 0;
    std::vector<double> v;

    Image() = default;
    Image(int nx_, int ny_, double fill = 0)
        : nx(nx_), ny(ny_), v(static_cast<std::size_t>(nx_) * ny_, fill)
    {
    }
    double &operator()(int x, int y) { return v[static_cast<std::size_t>(y - 1) * nx + (x - 1)]; }
    double operator()(int x, int y) const
    {
        return v[static_cast<std::size_t>(y - 1) * nx + (x - 1)];
    }
    // The image whose pixel (x, y) is f(x, y).
    template <typename F>
    static Image from(int nx, int ny, F f)
    {
        Image im(nx, ny);
        for (int y = 1; y <= ny; ++y)
            for (int x = 1; x <= nx; ++x)
                im(x, y) = f(x, y);
        return im;
    }
};

inline void write_keys(fitsfile *f, const std::vector<Key> &keys, int *status)
{
    for (const Key &k : keys) {
        char *end = nullptr;
        double v = strtod(k.value.c_str(), &end);
        if (!k.value.empty() && *end == '\0')
            ffuky(f, TDOUBLE, k.name.c_str(), &v, nullptr, status);
        else
            ffuky(f, TSTRING, k.name.c_str(), const_cast<char *>(k.value.c_str()), nullptr, status);
    }
}

// A card image: the text padded with blanks to 80 columns.
inline std::string card(const std::string &text)
{
    std::string image = text;
    image.resize(80, ' ');
    return image;
}

// A hand-made header: card images one after the other, "END" appended
// unless told otherwise, blank-filled to whole records.
inline std::string header_text(const std::vector<std::string> &cards, bool end = true)
{
    std::string text;
    for (const std::string &c : cards)
        text += card(c);
    if (end)
        text += card("END");
    text.resize((text.size() + 2879) / 2880 * 2880, ' ');
    return text;
}

// Writes im into the primary HDU of path at BITPIX bitpix, with the given
// keywords.  The pixels are physical values: with BZERO / BSCALE other than
// 0 / 1 (integer BITPIX) CFITSIO stores them scaled, and it rounds them to
// an integer BITPIX.
inline void write_image(const std::string &path, const Image &im, int bitpix = FLOAT_IMG,
                        double bzero = 0, double bscale = 1, const std::vector<Key> &keys = {})
{
    fitsfile *f = nullptr;
    int status = 0;
    long naxes[2] = {im.nx, im.ny};
    ffinit(&f, ("!" + path).c_str(), &status);
    ffcrim(f, bitpix, 2, naxes, &status);
    if (bitpix > 0 && (bzero != 0 || bscale != 1)) {
        ffpkyd(f, "BSCALE", bscale, -15, nullptr, &status);
        ffpkyd(f, "BZERO", bzero, -15, nullptr, &status);
        ffpscl(f, bscale, bzero, &status);
    }
    write_keys(f, keys, &status);
    std::vector<double> data = im.v;
    ffppr(f, TDOUBLE, 1, static_cast<LONGLONG>(data.size()), data.data(), &status);
    ffclos(f, &status);
    ASSERT_EQ(status, 0) << "writing " << path;
}

// Writes an nx x ny image (float, or BITPIX bitpix) whose pixel (x, y),
// 1-based, is pix(x, y), with the given keywords, into the primary HDU of
// path.
template <typename F>
void write_image(const std::string &path, long nx, long ny, F pix,
                 const std::vector<Key> &keys = {}, int bitpix = FLOAT_IMG)
{
    // Each value passes through float, as the programs' own images do.
    write_image(path,
                Image::from(static_cast<int>(nx), static_cast<int>(ny),
                            [&](long x, long y) { return static_cast<float>(pix(x, y)); }),
                bitpix, 0, 1, keys);
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
    write_keys(f, keys, &status);
    std::vector<short> v(nx * ny);
    for (long y = 1; y <= ny; y++)
        for (long x = 1; x <= nx; x++)
            v[(y - 1) * nx + (x - 1)] = blank(x, y) ? static_cast<short>(blankval)
                                                    : static_cast<short>(std::lround(pix(x, y)));
    ffppr(f, TSHORT, 1, nx * ny, v.data(), &status);
    ffclos(f, &status);
    ASSERT_EQ(status, 0) << "writing " << path;
}

// One HDU of a file as read back by CFITSIO, its pixels as T (float as the
// programs' own images, double for the full value of a scaled or double
// image).
template <typename T>
struct BasicHdu {
    int status = 0;
    long nx = 0, ny = 0;
    int bitpix = 0, naxis = 0;
    std::vector<T> pix;             // x fastest
    std::vector<std::string> names; // keyword names in order (COMMENT too)
    std::vector<std::string> cards; // whole cards

    // Read without error, and an image of two axes.
    bool ok() const { return status == 0 && naxis == 2; }
    T at(long x, long y) const { return pix[(y - 1) * nx + (x - 1)]; }
    Image image() const
    {
        Image im(static_cast<int>(nx), static_cast<int>(ny));
        im.v.assign(pix.begin(), pix.end());
        return im;
    }

    // A string keyword's value, long strings (CONTINUE) included, and any
    // other keyword's value text; "<none>" when it is missing.
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

using Hdu = BasicHdu<float>;

inline int count_hdus(const std::string &path)
{
    fitsfile *f = nullptr;
    int status = 0, n = 0;
    ffopen(&f, path.c_str(), READONLY, &status);
    ffthdu(f, &n, &status);
    ffclos(f, &status);
    return status ? -1 : n;
}

// HDU number (1 the primary) of path, its pixels read as T.
template <typename T = float>
BasicHdu<T> read_hdu(const std::string &path, int number = 1)
{
    BasicHdu<T> h;
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
    long naxes[2] = {0, 0};
    ffgipr(f, 2, &h.bitpix, &h.naxis, naxes, &st);
    h.nx = naxes[0];
    h.ny = naxes[1];
    if (st == 0 && h.naxis == 2) {
        h.pix.resize(h.nx * h.ny);
        T nul = 0;
        int anynul = 0;
        ffgpv(f, std::is_same<T, float>::value ? TFLOAT : TDOUBLE, 1, h.nx * h.ny, &nul,
              h.pix.data(), &anynul, &st);
    }
    int st2 = 0;
    ffclos(f, &st2);
    return h;
}

// fitsverify's verdict on a file: its report, whether it found no errors
// (clean), and whether it found neither errors nor warnings (flawless).
struct Verdict {
    bool clean = false, flawless = false;
    std::string report;
};

inline Verdict fitsverify(const std::string &path)
{
    Verdict v;
    v.report = output_of("fitsverify '" + path + "' 2>&1");
    v.clean = v.report.find(" and 0 error(s)") != std::string::npos;
    v.flawless = v.report.find(" 0 warning(s) and 0 error(s)") != std::string::npos;
    return v;
}

} // namespace test_common

#endif
