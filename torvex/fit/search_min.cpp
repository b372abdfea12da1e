#include "torvex/fit/search_min.h"

#include "torvex/display/quit.h"
#include "torvex/fit/constraints.h"
#include "torvex/fit/fitstep.h"
#include "torvex/fit/levmar.h"
#include "torvex/fit/mrqmin.h"
#include "torvex/fit/to_mini.h"
#include "torvex/fit/workarrays.h"
#include "torvex/input/sigma.h"
#include "torvex/model/mkmodel.h"
#include "torvex/output/fitlog.h"
#include "torvex/output/outmenu.h"
#include "torvex/output/outmodel.h"
#include "torvex/psf/cgrid.h"

#include <cstdio>
#include <cstring>
#include <ncurses.h>
#include <vector>

namespace {

// What the fit driver keeps while a fit runs, so that a numerical failure
// that ends the run loses no fit: the restart file and the fit.log entry
// of the last accepted step are still written.
struct running_fit {
    fitpars *fpar = nullptr;
    convpars *cpar = nullptr;
    int lowx = 1, lowy = 1;
    long npix = 0;
    double chisq = 0; // of the list once the fit has ended
    fatal_handler before = nullptr;
};
running_fit running;

// Moves the positions and the sky's reference point back to image
// coordinates, then writes the restart file (its name into newout) and the
// fit.log entry.  Returns 1 when either could not be written.
int save_fit(fitpars *fpar, convpars *cpar, int lowx, int lowy, const double *sig, double chisq,
             int ndof, bool output_written, bool stalled, char newout[RESTART_NAME_SIZE])
{
    xskycent += lowx - 1;
    yskycent += lowy - 1;
    offset_center(fpar, cpar, static_cast<float>(lowx - 1), static_cast<float>(lowy - 1));
    int failed = outmenu(fpar, newout, 0, 0, static_cast<float>(chisq), ndof);
    failed |= fitlog(1, 1, fpar, newout, sig, chisq, ndof, output_written, stalled);
    return failed;
}

// The restart file and the log entry as they stand (without uncertainties:
// the fit did not end), then the program's own end of a failure.
void keep_the_fit(const char *error_text)
{
    const running_fit r = running;
    set_fatal_handler(r.before); // a failure while saving ends at once
    double chisq = r.chisq;
    last_accepted(r.fpar, &chisq);
    const int ndof = static_cast<int>(r.npix - sample.nmask - free_slots(r.fpar));
    const std::vector<double> sig(10 * static_cast<size_t>(sample.nobjs) + 1, 0.0);
    char newout[RESTART_NAME_SIZE];
    save_fit(r.fpar, r.cpar, r.lowx, r.lowy, sig.data(), chisq, ndof, false, false, newout);
    pfunc("\n-- The fit ended in a numerical failure.  Its last accepted parameters are\n"
          "   in the restart file %s and in fit.log.\n\n",
          newout);
    r.before(error_text);
}

} // namespace

void errorcheck(inpars *input, image *data, image *badpix, image *psf, image *sigma)
{
    section_bounds r;
    const bool given = read_section(input->imgsect, &r) == 4;
    bool clipped = false;
    if (given) {
        if (r.x1 < 1) {
            r.x1 = 1;
            clipped = true;
        }
        if (r.y1 < 1) {
            r.y1 = 1;
            clipped = true;
        }
        if (r.x2 > data->naxes[1]) {
            r.x2 = static_cast<int>(data->naxes[1]);
            clipped = true;
        }
        if (r.y2 > data->naxes[2]) {
            r.y2 = static_cast<int>(data->naxes[2]);
            clipped = true;
        }
        write_section(input->imgsect, r);
        strcpy(data->imgsect, input->imgsect);
        strcpy(badpix->imgsect, input->imgsect);
        strcpy(sigma->imgsect, input->imgsect);
    }
    if (!given || r.x2 <= r.x1 || r.y2 <= r.y1)
        quit_empty_region();
    if (clipped) {
        pfunc("\n");
        pfunc("-- WARNING: Fitting box exceeds image boundary; vignetting to fit.\n");
    }
    // Every pixel's weight comes from the sigma pixel at the same place.
    if (sigma->err == 0 && sigma->z &&
        (sigma->naxes[1] != data->naxes[1] || sigma->naxes[2] != data->naxes[2])) {
        pfunc("\n-- ERROR: The sigma image %s is %ld x %ld pixels, the data image %ld x %ld.\n"
              "   They must be of the same size.  Quitting now.\n\n",
              sigma->name, sigma->naxes[1], sigma->naxes[2], data->naxes[1], data->naxes[2]);
        quit_run(1);
    }
    const int sampfac = input->sampfac > 0 ? input->sampfac : 1;
    if (input->convbox[1] < psf->naxes[1] / sampfac ||
        input->convbox[2] < psf->naxes[2] / sampfac) {
        pfunc("\n");
        pfunc("-- WARNING: Convolution PSF kernel exceeds the convolution box size.\n");
    }
}

int search_min(image *data, image *sigma, image *psfimg, image *badpix, fitpars *fpar, cons *constr,
               convpars *cpar)
{
    image *d = to_mini(data);
    image *s = sigma->err == 1 ? sigma_img(*d) : to_mini(sigma);
    // A mask smaller than the data masks nothing beyond its own edge.
    mask = to_mini(badpix, 0.0f);
    if (const long bad = unusable_sigma_pixels(*s))
        pfunc("-- WARNING: %ld pixel%s of the fit region ha%s a sigma that cannot weigh %s: not a\n"
              "   positive number whose weight 1/sigma^2 is finite, or more than 1e10 times\n"
              "   below the median sigma of the image; %s left out of the fit.\n",
              bad, bad > 1 ? "s" : "", bad > 1 ? "ve" : "s", bad > 1 ? "them" : "it",
              bad > 1 ? "they are" : "it is");

    section_bounds sect{1, 1, 1, 1};
    read_section(d->imgsect, &sect);
    const int lowx = sect.x1, lowy = sect.y1;
    offset_center(fpar, cpar, static_cast<float>(1 - lowx), static_cast<float>(1 - lowy));
    offset_constraints(constr, fpar, static_cast<float>(1 - lowx), static_cast<float>(1 - lowy));
    xskycent = (d->naxes[1] + 1) * 0.5f;
    yskycent = (d->naxes[2] + 1) * 0.5f;

    // The shifted copy of the PSF and the bicubic patches that shift it.
    const bool with_psf = strncmp(psfimg->name, "none", 4) != 0 && psfimg->z;
    const long pnx = psfimg->naxes[1], pny = psfimg->naxes[2];
    if (with_psf) {
        tpsf.naxes[1] = pnx;
        tpsf.naxes[2] = pny;
        tpsf.z = matrix(1, pny, 1, pnx);
        cg = get_cgrid(*psfimg);
    }

    model = *d;
    model.z = nullptr;
    create_work_arrays(fpar, &model, &df);

    const int ma = 10 * sample.nobjs;
    double **covar = dmatrix(1, ma, 1, ma);
    double *sig = dvector(1, ma);
    for (int k = 1; k <= ma; k++)
        sig[k] = 0;

    double chisq = 0;
    int ndof = 0;
    const bool fitting = input.create == 0;
    bool stalled = false;
    if (fitting) {
        running = running_fit{fpar, cpar, lowx, lowy, d->naxes[1] * d->naxes[2], 0, nullptr};
        running.before = set_fatal_handler(keep_the_fit);
        chisq = LevMar(d, s, fpar, constr, cpar, covar, sig, &ndof, 1, &stalled);
        running.chisq = chisq;
    }
    // The model that is written out leaves out the components whose output
    // option is not 0.  When nothing was fitted, chi^2 is that of this
    // model, known before the header that reports it is written.
    mkmodel(&model, &df, fpar, cpar, 1);
    if (input.create != 0)
        chisq = chi2calc(fpar, *d, *s, model, model.naxes, &ndof);
    assign_err(fpar, sig, ndof > 0 ? static_cast<float>(chisq / ndof) : 0.0f);

    pfunc("\n\nFit summary is now being saved into `fit.log'.\n\n");
    if (display_is("curses"))
        refresh();
    // An output that could not be written loses nothing else of the fit:
    // the restart file and the log entry are still written.
    const int block = outblock(fpar, d, &model, chisq, ndof, lowx - 1, lowy - 1);
    int failed = block != 0;
    if (fitting)
        set_fatal_handler(running.before);

    offset_constraints(constr, fpar, static_cast<float>(lowx - 1), static_cast<float>(lowy - 1));
    char newout[RESTART_NAME_SIZE];
    failed |=
        save_fit(fpar, cpar, lowx, lowy, sig, chisq, ndof, block != OUTPUT_LOST, stalled, newout);

    annihilate_work_arrays(fpar, &model, &df);
    delete_derivs(df.next);
    df.next = nullptr;
    free_dvector(sig, 1, ma);
    free_dmatrix(covar, 1, ma, 1, ma);
    if (with_psf) {
        free_cgrid(cg, 0, pny + 1, 0, pnx + 1);
        cg = nullptr;
        free_matrix(tpsf.z, 1, pny, 1, pnx);
        tpsf.z = nullptr;
    }
    free_mini(mask);
    mask = nullptr;
    free_mini(s);
    free_mini(d);
    return failed;
}
