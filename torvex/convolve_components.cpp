// The PSF path of the model assembly.  The shift of the PSF and the FFT
// convolution of the component boxes are not part of this build yet, so a
// run with a PSF is refused here rather than written out unconvolved.
#include "torvex/mkmodel.h"

#include <cstdlib>
#include <cstring>
#include <ncurses.h>

void convolve_components(image *, derivs *, fitpars *, convpars *, const int *)
{
    pfunc("\n-- PSF convolution is not available in this version of torvex.\n");
    pfunc("   Run without a PSF (D) none) to render or fit unconvolved models.\n");
    if (strncmp(device, "regular", 7) != 0)
        endwin();
    exit(1);
}
