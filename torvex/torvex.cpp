// torvex: fits parametric light profiles to a region of a FITS image.
#include "torvex/assign_pars.h"
#include "torvex/parfile.h"
#include "torvex/structs.h"

#include <cstdio>
#include <cstring>

int main(int argc, char *argv[])
{
    // Owned by main for the whole run.
    image data, sigma, badpix;
    fitpars fpar;
    convpars cpar;

    printf("\nTORVEX Version %s\n\n", "2.0.3c -- Oct. 22, 2005");

    if (argc > 1) {
        if (strlen(argv[1]) > static_cast<size_t>(FILENAME_LEN)) {
            fprintf(stderr, "torvex: the parameter file name is longer than %d characters.\n",
                    FILENAME_LEN);
            return 1;
        }
        strcpy(input.initparfile, argv[1]);
    }

    if (read_input(&input, &fpar) != 0)
        return 1;

    assign_pars(input, &data, &sigma, &psf, &badpix, &fpar, &cpar);

    // The run goes on from here, in this order, with the steps that are not
    // part of this program yet:
    //   display choice   device = input.device; pfunc; initcurses unless "regular"
    //   images           readfits on data, psf (psfcheck, getkernel, psf_fwhm),
    //                    sigma (sigcheck) and badpix (badpixlist), each with its
    //                    warning when missing
    //   constraints      read_cons into the cons list head owned here
    //   region check     errorcheck
    //   Sersic table     getmu(TWOn, MU, Y2, ninterp)
    //   fit and outputs  search_min(&data, &sigma, &psf, &badpix, &fpar, &constr, &cpar)
    //   clean-up         free the image pixels, ring the bell, endwin unless "regular"

    free_objects(&fpar);
    return 0;
}
