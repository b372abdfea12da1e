// FITS images out (through CFITSIO).
#ifndef TORVEX_OUTPUT_WRITEFITS_H
#define TORVEX_OUTPUT_WRITEFITS_H

#include "torvex/structs.h"

#include <fitsio.h>

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

// After the caller's own line about a write that failed: CFITSIO's report
// of status on standard error, and f (when open) closed without further
// messages.
void report_write_failure(fitsfile *f, int status);

#endif
