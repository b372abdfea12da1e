// FITS images in and out (through CFITSIO), and the small image operations
// of the fit driver: the fit-region cut, the coordinate shift, the residual
// and the blank data image of a create-only run.  File names go to CFITSIO
// unchanged, so its extended file-name syntax (file.fits[1], sections,
// filters) works everywhere.
#ifndef TORVEX_FITSIMG_H
#define TORVEX_FITSIMG_H

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

// Writes img->z (naxes[1] by naxes[2]) as 32-bit floats to img->name.
// append 0: a new file (an existing one is removed first).  When the
// template phead opens, the primary HDU stays an empty float image and the
// pixels go into a second HDU carrying a copy of the template's header,
// OBJECT = the template's OBJECT (or TARGNAME) followed by img->imgsect.
// Otherwise (phead null, empty or unreadable) the pixels go into the
// primary HDU with OBJECT = object.
// append 1: a new IMAGE extension at the end of the existing file, with
// OBJECT = object.
// Returns the number of the HDU that holds the pixels, or 0 after a
// message and CFITSIO's report when the image could not be written (what
// was written of the file stays; the caller decides about it).
int writefits(const char *phead, image *img, const char *object, int append);

// Nothing for status 0; otherwise CFITSIO's report on standard error and
// the end of the process with the status as exit code.
void printerror(int status);

// A new, empty image record; a failed allocation ends the run with status 1
// after a message.
image *new_image_record();

// A new record holding the section img->imgsect ("[x1:x2,y1:y2]") of img,
// with every other field copied.  Pixels of the section that lie outside
// img get the value outside: 0 for data, 1 (excluded) for a mask.
// An empty section gives a record of size 0 without pixels.  Release
// with free_mini.
image *to_mini(const image *img, float outside = 0.0f);
void free_mini(image *img);

// Adds the offsets to every component's position (not the sky's) and to
// the convolution-box centre.
void offset_center(fitpars *fpar, convpars *cpar, float xoff, float yoff);

// result = data - model pixel by pixel over the model's size.
void subimg(const image *data, const image *model, image *result);

// The stand-in data image of a run without one: zero pixels over columns
// 1..xmax and rows 1..ymax of input.imgsect, so that the fit region lies
// inside it, with the detector defaults of readfits and exposure time 1.
// Ends the process with status 2 when input.imgsect holds no region.
void blank_img(image *data, const inpars &input);

// The file that a name given to CFITSIO stands for, without the extended
// syntax: "data.fits[1]" -> "data.fits", "!out.fits" -> "out.fits".
std::string fits_root(const char *name);

#endif
