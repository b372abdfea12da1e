// torvex: fits parametric light profiles to a region of a FITS image.
#include "torvex/display/display.h"
#include "torvex/display/quit.h"
#include "torvex/fit/constraints.h"
#include "torvex/fit/search_min.h"
#include "torvex/fit/to_mini.h"
#include "torvex/input/assign_pars.h"
#include "torvex/input/checkpars.h"
#include "torvex/input/read_input.h"
#include "torvex/input/readfits.h"
#include "torvex/input/sigma.h"
#include "torvex/model/component_types.h"
#include "torvex/model/sersic.h"
#include "torvex/output/outmodel.h"
#include "torvex/psf/psfcheck.h"
#include "torvex/structs.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

// Reads the PSF and makes it ready for the convolution: even sizes, the
// diffusion kernel of an oversampled PSF, its size in cpar and its FWHM.
// Without a PSF nothing is convolved; a PSF that cannot be used ends the run.
void read_psf(convpars *cpar)
{
    if (readfits(&psf) == 1) {
        pfunc("-- PSF image not found.  No convolution done! \n");
        strcpy(psf.name, "none");
        return;
    }
    // An undefined pixel of an integer PSF holds no light of the PSF.
    if (psf.nblank > 0) {
        pfunc(
            "-- WARNING: %ld pixel%s of the PSF image equal%s its BLANK value and count%s as 0.\n",
            psf.nblank, psf.nblank > 1 ? "s" : "", psf.nblank > 1 ? "" : "s",
            psf.nblank > 1 ? "" : "s");
        float *p = &psf.z[1][1];
        for (long i = 0; i < psf.naxes[1] * psf.naxes[2]; i++)
            if (std::isnan(p[i]))
                p[i] = 0;
    }
    if (psfcheck(&psf) != 0) {
        pfunc("   Quitting now.\n\n");
        quit_run(1);
    }
    if (input.sampfac > 1) {
        kernel = getkernel(input.kernel);
        if (!kernel)
            pfunc("-- No CCD charge diffusion kernel applied.\n");
    }
    cpar->psfsz[1] = psf.naxes[1];
    cpar->psfsz[2] = psf.naxes[2];
    fwhmpsf = psf_fwhm(psf);
}

// Reads the data image (or makes the blank one of a run without data), the
// PSF, the sigma image and the mask, each with its message when missing.
void read_images(image *data, image *sigma, image *badpix, convpars *cpar)
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

    read_psf(cpar);

    if (readfits(sigma) == 1) {
        pfunc("-- No sigma image.  Creating one using: GAIN=%.2f, RDNOISE=%.2f, NCOMBINE=%.1f.\n",
              data->gain, data->rdnoise, data->ncombine);
    } else {
        sigval = sigcheck(*sigma);
        if (sigval != 0)
            pfunc("-- WARNING: Sigma image has 0. values.  Set to a low value of %.2e. \n", sigval);
    }

    // A mask that is no FITS image may be a text list of pixels.
    if (readfits(badpix, FITS_OR_TEXT) == 1) {
        badpix->naxes[1] = data->naxes[1];
        badpix->naxes[2] = data->naxes[2];
        if (badpixlist(badpix) == 1) {
            pfunc("-- No masking image used.\n");
            strcpy(badpix->name, "none");
        }
    } else if (badpix->naxes[1] != data->naxes[1] || badpix->naxes[2] != data->naxes[2]) {
        pfunc("-- WARNING:  The pixel mask is not the same size as the data.\n\n");
    }
}

// A point source is the PSF itself: without a PSF image it renders as
// nothing, which a user would otherwise only notice in the residual (or in
// a fit that cannot determine its free parameters).
void warn_point_sources_without_psf(const fitpars *fpar)
{
    if (strncmp(psf.name, "none", 4) != 0)
        return;
    std::string which;
    int n = 0, count = 0;
    for (const fitpars *p = fpar; p; p = p->next) {
        if (objtype_is(p->objtype, "none"))
            continue;
        n++;
        const component_type *t = find_component_type(p->objtype);
        if (t && t->kind == component_kind::point)
            which += (count++ ? ", " : "") + std::to_string(n);
    }
    if (count == 0)
        return;
    pfunc("-- WARNING: There is no PSF image, so the point source%s (component%s %s)\n"
          "   render%s as nothing.  Give a PSF image (D) or remove %s; free point-source\n"
          "   parameters cannot be fitted without one.\n\n",
          count > 1 ? "s" : "", count > 1 ? "s" : "", which.c_str(), count > 1 ? "" : "s",
          count > 1 ? "them" : "it");
}

} // namespace

int main(int argc, char *argv[])
{
    // Owned by main for the whole run.
    image data, sigma, badpix;
    fitpars fpar;
    convpars cpar;

    // A numerical failure ends the run with its message, and gives the
    // display back.
    set_fatal_handler(numerical_failure);
    // A file-size limit then fails the write instead of killing the run, so
    // that a cut output is removed and the restart file and fit.log are
    // still written.
    signal(SIGXFSZ, SIG_IGN);
    printf("\nTORVEX Version %s\n\n", "1.0");

    if (argc > 1) {
        if (strlen(argv[1]) > static_cast<size_t>(FILENAME_LEN)) {
            fprintf(stderr, "torvex: the parameter file name is longer than %d characters.\n",
                    FILENAME_LEN);
            return 1;
        }
        strcpy(input.initparfile, argv[1]);
    }

    // Every refusal below frees the components read so far, so that nothing
    // is left behind (and a leak checker has nothing to say over the
    // message).
    if (read_input(&input, &fpar) != 0) {
        free_objects(&fpar);
        return 1;
    }

    assign_pars(input, &data, &sigma, &psf, &badpix, &fpar, &cpar);
    // Values the file never set (a slot left at 0) or that completion made
    // are checked here: a profile that cannot be rendered would only give
    // a model and a chi^2 that are not numbers.
    if (check_components(&fpar, data.magzpt, data.muzpt) != 0) {
        pfunc("-- Correct the parameter file; quitting now.\n\n");
        free_objects(&fpar);
        return 1;
    }

    // Writing the output block removes the file of that name first.  Checked
    // before the display exists, so that the message stays on the terminal.
    if (check_output(input) != 0) {
        free_objects(&fpar);
        fflush(stdout);
        return 1;
    }

    choose_display(input.device);
    pfunc("\n\n");

    read_images(&data, &sigma, &badpix, &cpar);
    warn_point_sources_without_psf(&fpar);

    cons constr; // the constraint list, its nodes live until the end
    // A refused line has said so itself; the lines around it are used.
    if (read_cons(input, &constr, &fpar) == CONS_UNREADABLE)
        pfunc("-- No constraint file found, or error in constraint file.\n");
    errorcheck(&input, &data, &badpix, &psf, &sigma);
    getmu(TWOn, MU, Y2, ninterp);

    int status = search_min(&data, &sigma, &psf, &badpix, &fpar, &constr, &cpar);

    free_matrix(data.z, 1, data.naxes[2], 1, data.naxes[1]);
    if (sigma.err == 0)
        free_matrix(sigma.z, 1, sigma.naxes[2], 1, sigma.naxes[1]);
    if (strncmp(psf.name, "none", 4) != 0)
        free_matrix(psf.z, 1, psf.naxes[2], 1, psf.naxes[1]);
    if (kernel) {
        free_matrix(kernel->z, 1, kernel->naxes[2], 1, kernel->naxes[1]);
        delete kernel;
        kernel = nullptr;
    }
    free_matrix(badpix.z, 1, badpix.naxes[2], 1, badpix.naxes[1]);
    free_objects(&fpar);
    free_cons(&constr);
    putchar(7);
    fflush(stdout);
    end_display();
    return status;
}
