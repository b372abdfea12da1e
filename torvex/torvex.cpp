// torvex: fits parametric light profiles to a region of a FITS image.
#include "torvex/assign_pars.h"
#include "torvex/components.h"
#include "torvex/create_only.h"
#include "torvex/display.h"
#include "torvex/fitsimg.h"
#include "torvex/output.h"
#include "torvex/parfile.h"
#include "torvex/structs.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

// Reads the data image (or makes the blank one of a run without data), the
// PSF, the sigma image and the mask, each with its message when missing.
void read_images(image *data, image *sigma, image *badpix)
{
    int r = readfits(data);
    if (r == 1) {
        pfunc("-- WARNING: No input data image found.  Generating a model based\n ");
        pfunc("  on input parameters, with exposure time of 1 second.\n\n");
        input.create = 1;
        strcpy(input.data, "none");
        blank_img(data, input);
    } else if (r == 2) {
        pfunc("-- WARNING: The exposure time header is missing.  Default to 1 second.\n\n");
    }

    // Padding, the diffusion kernel and the FWHM of the PSF come with the
    // convolution; until then a PSF is checked but not used.
    if (readfits(&psf) == 1) {
        pfunc("-- PSF image not found.  No convolution done! \n");
    } else {
        pfunc("-- WARNING: This build does not convolve; the PSF %s is not used.\n", psf.name);
        free_matrix(psf.z, 1, psf.naxes[2], 1, psf.naxes[1]);
        psf.z = nullptr;
    }
    strcpy(psf.name, "none");

    // The sigma image is checked for zeros (sigcheck), and made from the
    // data when missing, with the fit.
    readfits(sigma);

    // A mask that is no FITS image may be a text list of pixels; those
    // lists are read with the fit (badpixlist).  Until then such a mask is
    // reported and masks nothing.
    if (readfits(badpix, FITS_OR_TEXT) == 1) {
        if (strcmp(badpix->name, "none") != 0 && access(badpix->name, F_OK) == 0)
            pfunc("-- WARNING: The mask %s is no FITS image; pixel lists are not read by "
                  "this build.\n",
                  badpix->name);
        pfunc("-- No masking image used.\n");
        strcpy(badpix->name, "none");
        badpix->naxes[1] = data->naxes[1];
        badpix->naxes[2] = data->naxes[2];
        badpix->z = matrix(1, badpix->naxes[2], 1, badpix->naxes[1]);
        std::fill(&badpix->z[1][1], &badpix->z[1][1] + badpix->naxes[1] * badpix->naxes[2],
                  0.0f);
    } else if (badpix->naxes[1] != data->naxes[1] || badpix->naxes[2] != data->naxes[2]) {
        pfunc("-- WARNING:  The pixel mask is not the same size as the data.\n\n");
    }
}

} // namespace

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

    // Writing the output block removes the file of that name first.  Checked
    // before the display exists, so that the message stays on the terminal.
    if (check_output(input) != 0)
        return 1;

    choose_display(input.device);
    pfunc("\n\n");

    read_images(&data, &sigma, &badpix);

    // Constraints (read_cons) and the region check (errorcheck) come with
    // the fit.
    getmu(TWOn, MU, Y2, ninterp);

    int status = 0;
    if (input.create == 1) {
        status = create_only(&data, &sigma, &badpix, &fpar, &cpar);
    } else {
        // search_min comes with the fit.
        pfunc("-- This build does not fit models; set P) 1 to make the model only.\n");
        status = 1;
    }

    free_matrix(data.z, 1, data.naxes[2], 1, data.naxes[1]);
    if (sigma.err == 0)
        free_matrix(sigma.z, 1, sigma.naxes[2], 1, sigma.naxes[1]);
    free_matrix(badpix.z, 1, badpix.naxes[2], 1, badpix.naxes[1]);
    free_objects(&fpar);
    putchar(7);
    fflush(stdout);
    end_display();
    return status;
}
