// FITS images in (through CFITSIO).  File names go to CFITSIO unchanged, so
// its extended file-name syntax (file.fits[1], sections, filters) works
// everywhere.
#ifndef TORVEX_INPUT_READFITS_H
#define TORVEX_INPUT_READFITS_H

#include "torvex/structs.h"

#include <string>

// What readfits does with a file that exists but does not open as FITS.
enum fits_other {
    FITS_REQUIRED, // a fatal error (data, sigma and PSF images)
    FITS_OR_TEXT,  // reported as "not read" (a mask may be a text list)
};

// Reads the 2-D image named by img->name into img->z (rows 1..naxes[2],
// columns 1..naxes[1]) with the detector keywords: gain (GAIN, CCDGAIN,
// ATODGAIN, else 7), rdnoise (RDNOISE, else 5.24), ncombine (NCOMBINE, else
// 1) and exptime (EXPTIME, which also raises both zeropoints by
// 2.5 log10(exptime)).  Undefined pixels arrive as NaN: NaN pixels, and
// the pixels of an integer image that equal its BLANK, which img->nblank
// counts.
// Returns 0 when read, 2 when read without a usable EXPTIME (missing, not
// a number or not positive: exptime is then 1 and the zeropoints stay), and
// 1 with img->err = 1 when the file does not exist; nothing else changes.
// A file that exists but is no readable 2-D image ends the process with
// CFITSIO's report and status (see fits_other).
int readfits(image *img, fits_other other = FITS_REQUIRED);

// Nothing for status 0; otherwise CFITSIO's report on standard error and
// the end of the process with the status as exit code.
void printerror(int status);

// The file that a name given to CFITSIO stands for, without the extended
// syntax: "data.fits[1]" -> "data.fits", "!out.fits" -> "out.fits".
std::string fits_root(const char *name);

#endif
