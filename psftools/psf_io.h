// Diagnostic FITS images of the sources of class psf. Internal.
#ifndef PSFTOOLS_PSF_IO_H
#define PSFTOOLS_PSF_IO_H

#include <string>

#include "orv/MArray.h"
#include "orv/fits/fits.h"
#include "orv/fits/fits_data.h"

namespace psf_io {

// Writes a as a 32-bit float image under the given name.
template <class T>
void writeImage(const orv::MArray<T, 2> &a, const std::string &name)
{
    orv::MArray<float, 2> f(a.shape());
    if (f.elementCount() > 0)
        f = a;
    orv::FitsOut out(name);
    out << f;
}

} // namespace psf_io

#endif
