#include <cstdio>
#include <iostream>
#include <string>

#include "dornel/conversions.h"
#include "orv/fits/fits.h"
#include "orv/fits/fits_data.h"
#include "psftools/psf.h"
#include "psftools/psf_index.h"
#include "psftools/psf_io.h"

using orv::MArray;
using orv::Range;

namespace {

// A file name split after its last "/": directory part (with the "/") and
// base name.
struct SplitName {
    std::string dir;
    std::string base;
    explicit SplitName(const std::string &name)
    {
        const std::string::size_type slash = name.rfind('/');
        const std::string::size_type cut = slash == std::string::npos ? 0 : slash + 1;
        dir = name.substr(0, cut);
        base = name.substr(cut);
    }
    // The name of the error twin: "e." in front of the base name.
    std::string error() const { return dir + "e." + base; }
};

std::string errorName(const std::string &name)
{
    return SplitName(name).error();
}

// The name of the value file of writefits_psf and readfits_psf: the prefix
// "psf_NNNN_" (the sub-grid) in front of the base name.
std::string subgridName(const std::string &name, int subgrid)
{
    const SplitName n(name);
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "psf_%4.4i_", subgrid);
    return n.dir + prefix + n.base;
}

using psf_io::writeImage;

// A value array and its errors as a pair of files.
void writePair(const MArray<double, 2> &values, const MArray<double, 2> &errors,
               const std::string &name)
{
    writeImage(values, name);
    writeImage(errors, errorName(name));
}

MArray<float, 2> readImage(const std::string &name)
{
    orv::FitsIn in(name, false, false);
    MArray<float, 2> img;
    in >> img;
    return img;
}

// img with its indices moved so that index 0 lies at the middle: a side of
// n runs from −(n/2) to n − 1 − n/2.
MArray<float, 2> centred(const MArray<float, 2> &img)
{
    const int n1 = img.length(1), n2 = img.length(2);
    MArray<float, 2> c{Range(-(n1 / 2), n1 - 1 - n1 / 2), Range(-(n2 / 2), n2 - 1 - n2 / 2)};
    if (c.elementCount() > 0)
        c = img;
    return c;
}

// Copies the pixels of src whose indices, moved by the offset, dst has.
void copyOverlap(MArray<double, 2> &dst, const MArray<float, 2> &src, int offset)
{
    const int lo1 = std::max(dst.firstIndex(1), src.firstIndex(1) + offset);
    const int hi1 = std::min(dst.lastIndex(1), src.lastIndex(1) + offset);
    const int lo2 = std::max(dst.firstIndex(2), src.firstIndex(2) + offset);
    const int hi2 = std::min(dst.lastIndex(2), src.lastIndex(2) + offset);
    for (int i = lo1; i <= hi1; ++i)
        for (int j = lo2; j <= hi2; ++j)
            dst(i, j) = src(i - offset, j - offset);
}

} // namespace

using psf_index::zero;

void psf::writefits_psf(std::string name)
{
    writePair(_psf, _epsf, subgridName(name, _subgrid));
}

void psf::readfits_psf(std::string name)
{
    const std::string valueName = subgridName(name, _subgrid);
    std::cout << " psf = " << valueName << std::endl;
    const MArray<float, 2> img = centred(readImage(valueName));
    img.describeSelf();
    const MArray<float, 2> eimg = centred(readImage(errorName(valueName)));
    eimg.describeSelf();
    const int v = img.length(1) - 1 - img.length(1) / 2;
    std::cout << "_slen = " << _slen << std::endl;
    std::cout << "_file_slen = " << v << std::endl;
    // Cropped to the PSF, or zero-padded around the file's pixels: what the
    // file and the PSF share by index is copied, nothing else.
    zero(_psf);
    zero(_epsf);
    copyOverlap(_psf, img, 0);
    copyOverlap(_epsf, eimg, 0);
}

void psf::write_psf(std::string name)
{
    writePair(_psf, _epsf, name);
}

void psf::read_psf(std::string name)
{
    const MArray<float, 2> img = readImage(name);
    const MArray<float, 2> eimg = readImage(errorName(name));
    const int slen = img.lastIndex(1) / 2;
    MArray<double, 2> p{Range(-slen, slen), Range(-slen, slen)}, e(p.shape());
    // File pixel (i, j) goes to index (i − slen − 1, j − slen − 1); a file of
    // another shape fills what overlaps and leaves the rest 0.
    zero(p);
    zero(e);
    copyOverlap(p, img, -slen - 1);
    if (eimg.lastIndex(1) != 2 * slen + 1)
        std::cout << "error: wrong psf-size" << std::endl;
    copyOverlap(e, eimg, -slen - 1);
    _slen = slen;
    _psf.makeReference(p);
    _epsf.makeReference(e);
}

void psf::write_binned_psf(std::string name)
{
    writePair(_binned_psf, _ebinned_psf, name);
}

void psf::write_binned(std::string name)
{
    // The shifts of _subpixel that the tables hold.
    const int s = _subpixel / 2;
    const psf_index::Span xs = psf_index::within(_all_binned_psf, 1, -s, s);
    const psf_index::Span ys = psf_index::within(_all_binned_psf, 2, -s, s);
    const psf_index::Span exs = psf_index::within(_all_ebinned_psf, 1, xs.lo, xs.hi);
    const psf_index::Span eys = psf_index::within(_all_ebinned_psf, 2, ys.lo, ys.hi);
    for (int sx = exs.lo; sx <= exs.hi; ++sx)
        for (int sy = eys.lo; sy <= eys.hi; ++sy) {
            const std::string file = name + "_" + int2str(sx, 3) + "_" + int2str(sy, 3) + ".fits";
            MArray<double, 2> plane, eplane;
            plane.slicearray(_all_binned_psf, sx, sy, Range::all(), Range::all());
            eplane.slicearray(_all_ebinned_psf, sx, sy, Range::all(), Range::all());
            writeImage(plane, file);
            writeImage(eplane, errorName(file));
        }
}
