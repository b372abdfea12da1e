#include "psftools/psf.h"

#include <cmath>
#include <iostream>
#include <limits>

#include "psftools/psf_index.h"

using orv::MArray;

namespace {

using psf_index::zeroSquare;

// Whether these sizes make a PSF, with the refusal printed when not: a
// sub-grid needs a point per pixel, and negative half-sizes give arrays of
// negative length; a sub-grid half-size beyond an int's range has no array.
bool makeable(int boxlen, int analyt, int subgrid, int interpolation)
{
    const auto given = [&] {
        std::cout << "error: psf(" << boxlen << ", " << analyt << ", " << subgrid << ", "
                  << interpolation << "): ";
    };
    if (subgrid < 1 || boxlen < 0 || analyt < 0 || interpolation < 0) {
        given();
        std::cout << "the subgrid must be at least 1 and boxlen, analyt and interpolation at "
                     "least 0, psf made without sizes!"
                  << std::endl;
        return false;
    }
    const long long slen = static_cast<long long>(analyt) * subgrid + subgrid / 2;
    if (slen > (std::numeric_limits<int>::max() - 1) / 2) {
        given();
        std::cout << "analyt times subgrid is too large, psf made without sizes!" << std::endl;
        return false;
    }
    return true;
}

} // namespace

psf::psf() : _boxlen(0), _analyt(0), _subgrid(0), _subpixel(0), _interpolation(0), _slen(0) {}

psf::psf(int boxlen, int analyt, int subgrid, int interpolation) : psf()
{
    if (!makeable(boxlen, analyt, subgrid, interpolation))
        return;
    _boxlen = boxlen;
    _analyt = analyt;
    _subgrid = subgrid;
    _interpolation = interpolation;
    _slen = analyt * subgrid + subgrid / 2;
    _psf.makeReference(zeroSquare(_slen));
    _epsf.makeReference(zeroSquare(_slen));
    _binned_psf.makeReference(zeroSquare(analyt));
    _ebinned_psf.makeReference(zeroSquare(analyt));
}

psf::~psf() = default;

void psf::set_boxlen(int v)
{
    _boxlen = v;
}

void psf::set_analyt(int v)
{
    _analyt = v;
    _slen = _analyt * _subgrid + _subgrid / 2;
}

void psf::set_subgrid(int v)
{
    _subgrid = v;
    _slen = _analyt * _subgrid + _subgrid / 2;
}

void psf::set_subpixel(int v)
{
    _subpixel = v;
}

void psf::set_interpolation(int v)
{
    _interpolation = v;
}

void psf::write_all_binned_psf(MArray<double, 4> &t)
{
    _all_binned_psf.makeReference(t);
}

void psf::write_all_ebinned_psf(MArray<double, 4> &t)
{
    _all_ebinned_psf.makeReference(t);
}

void psf::write_all_e2binned_psf(MArray<double, 4> &t)
{
    _all_e2binned_psf.makeReference(t);
}

void psf::print_norm_psf()
{
    std::cout << " psf-norm = " << orv::sum(_psf) << std::endl;
}

void psf::factor(double f)
{
    if (_psf.elementCount() > 0)
        _psf *= f;
    if (_epsf.elementCount() > 0)
        _epsf *= f;
}

void psf::normalize_psf()
{
    const double s = orv::sum(_psf);
    // Dividing would fill both arrays with infinities and NaNs.
    if (s == 0) {
        std::cout << "error: psf sum is 0, psf not normalised" << std::endl;
        return;
    }
    if (!std::isfinite(s)) {
        std::cout << "error: psf sum is not finite, psf not normalised" << std::endl;
        return;
    }
    if (_psf.elementCount() > 0)
        _psf /= s;
    if (_epsf.elementCount() > 0)
        _epsf /= s;
}
