// FITS files made and read with CFITSIO, independently of the program's own
// FITS layer, and runs of the program in a scratch folder (tests/common).
#ifndef TESTS_DORNEL_FITS_FILES_H
#define TESTS_DORNEL_FITS_FILES_H

#include "common/program.h"
#include "common/scratch.h"

#include <fitsio.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace fitsfiles {

// A 2-D image, pixel (x, y) at index (y-1)·nx + (x-1), x and y from 1.
struct Image {
    int nx = 0, ny = 0;
    std::vector<double> v;
    Image() = default;
    Image(int nx_, int ny_, double fill = 0) : nx(nx_), ny(ny_), v(static_cast<std::size_t>(nx_) * ny_, fill) {}
    double& operator()(int x, int y) { return v[static_cast<std::size_t>(y - 1) * nx + (x - 1)]; }
    double operator()(int x, int y) const { return v[static_cast<std::size_t>(y - 1) * nx + (x - 1)]; }
    static Image from(int nx, int ny, const std::function<double(int, int)>& f) {
        Image im(nx, ny);
        for (int y = 1; y <= ny; ++y)
            for (int x = 1; x <= nx; ++x) im(x, y) = f(x, y);
        return im;
    }
};

struct Key {
    std::string name;
    std::string value;  // written as a string card
};

// Writes im as the primary image at the given BITPIX; for integer BITPIX the
// values are stored with BZERO/BSCALE (CFITSIO scales them).
inline void writeImage(const std::string& path, const Image& im, int bitpix = FLOAT_IMG, double bzero = 0,
                       double bscale = 1, const std::vector<Key>& keys = {}) {
    fitsfile* f = nullptr;
    int status = 0;
    std::remove(path.c_str());
    long naxes[2] = {im.nx, im.ny};
    fits_create_file(&f, path.c_str(), &status);
    fits_create_img(f, bitpix, 2, naxes, &status);
    if (bitpix > 0 && (bzero != 0 || bscale != 1)) {
        fits_write_key(f, TDOUBLE, "BSCALE", &bscale, nullptr, &status);
        fits_write_key(f, TDOUBLE, "BZERO", &bzero, nullptr, &status);
        fits_set_bscale(f, bscale, bzero, &status);
    }
    for (const Key& k : keys)
        fits_write_key(f, TSTRING, k.name.c_str(), const_cast<char*>(k.value.c_str()), "test keyword", &status);
    std::vector<double> data = im.v;
    fits_write_img(f, TDOUBLE, 1, static_cast<LONGLONG>(data.size()), data.data(), &status);
    fits_close_file(f, &status);
    ASSERT_EQ(0, status) << "CFITSIO could not write " << path;
}

struct Read {
    Image image;
    int bitpix = 0;
    bool ok = false;
    std::vector<std::pair<std::string, std::string>> keys;  // every card: keyword, value text
    // The value of a card; a string value without its quotes and padding.
    std::string key(const std::string& name) const {
        for (const auto& k : keys) {
            if (k.first != name) continue;
            std::string v = k.second;
            if (v.size() >= 2 && v.front() == '\'' && v.back() == '\'') {
                v = v.substr(1, v.size() - 2);
                while (!v.empty() && v.back() == ' ') v.pop_back();
            }
            return v;
        }
        return "<missing>";
    }
};

// Reads the primary image (values as double, scaling applied) and its cards.
inline Read readImage(const std::string& path) {
    Read r;
    fitsfile* f = nullptr;
    int status = 0, naxis = 0, nkeys = 0;
    long naxes[2] = {0, 0};
    if (fits_open_file(&f, path.c_str(), READONLY, &status)) return r;
    fits_get_img_param(f, 2, &r.bitpix, &naxis, naxes, &status);
    fits_get_hdrspace(f, &nkeys, nullptr, &status);
    for (int i = 1; i <= nkeys && !status; ++i) {
        char name[FLEN_KEYWORD], value[FLEN_VALUE], comment[FLEN_COMMENT];
        fits_read_keyn(f, i, name, value, comment, &status);
        r.keys.emplace_back(name, value);
    }
    r.image = Image(static_cast<int>(naxes[0]), static_cast<int>(naxes[1]));
    double nulval = 0;
    int anynul = 0;
    if (naxis == 2 && !r.image.v.empty())
        fits_read_img(f, TDOUBLE, 1, static_cast<LONGLONG>(r.image.v.size()), &nulval, r.image.v.data(), &anynul,
                      &status);
    fits_close_file(f, &status);
    r.ok = status == 0 && naxis == 2;
    return r;
}

// fitsverify's one-line verdict on a file (-q reports OK only without
// errors and warnings).
inline bool verified(const std::string& path, std::string* report = nullptr) {
    const std::string out = test_common::output_of("fitsverify -q '" + path + "' 2>&1");
    if (report) *report = out;
    return out.find("verification OK") != std::string::npos;
}

using test_common::exists;
using test_common::slurp;

struct Outcome {
    std::string out, err;
    int status = -1;
};

// A scratch folder per test; runs the program inside it.
class Scratch {
public:
    std::string path(const std::string& name) const { return folder_.file(name); }

    // Runs program with the argument text (shell words) in the folder.
    Outcome run(const std::string& program, const std::string& arguments) const {
        const test_common::ProgramRun r = test_common::run_in(folder_, "'" + program + "' " + arguments);
        return {r.out, r.err, r.status};
    }

private:
    test_common::ScratchDir folder_;

public:
    std::string dir = folder_.path();
};

}  // namespace fitsfiles

#endif
