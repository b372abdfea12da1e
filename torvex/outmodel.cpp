#include "torvex/output.h"
#include "torvex/fitsimg.h"
#include "torvex/mkmodel.h"

#include <cstring>
#include <string>
#include <sys/stat.h>

int outblock(fitpars *fpar, image *d, image *model, double chisq, int ndof, int offx, int offy)
{
    strcpy(model->name, input.output);
    if (input.create == 1) {
        int hdu = writefits(nullptr, model, "model", 0);
        return writeheader(model, fpar, chisq, ndof, hdu, offx, offy);
    }

    // The data file's header is the template of the data section's HDU.
    std::string phead = d->name;
    image section = *d;
    strcpy(section.name, input.output);
    writefits(phead.c_str(), &section, "original image", 0);

    // The model's HDU is the one writefits reports: when the template could
    // not be read, the data section went into the primary HDU and the model
    // is the second, not the third.
    int hdu = writefits(phead.c_str(), model, "model", 1);
    int failures = writeheader(model, fpar, chisq, ndof, hdu, offx, offy);

    image residual = section;
    residual.z = matrix(1, d->naxes[2], 1, d->naxes[1]);
    subimg(d, model, &residual);
    writefits(phead.c_str(), &residual, "residual map", 1);
    free_matrix(residual.z, 1, d->naxes[2], 1, d->naxes[1]);
    return failures;
}

namespace {

bool same_file(const struct stat &a, const char *name)
{
    struct stat b;
    if (!*name || strcmp(name, "none") == 0)
        return false;
    return stat(fits_root(name).c_str(), &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

} // namespace

int check_output(const inpars &in)
{
    struct stat out;
    if (stat(fits_root(in.output).c_str(), &out) != 0)
        return 0; // a file that does not exist yet is no input
    const struct {
        const char *what;
        const char *name;
    } inputs[] = {
        {"data image", in.data},       {"sigma image", in.sigma},
        {"PSF image", in.psf},         {"diffusion kernel", in.kernel},
        {"bad-pixel mask", in.badpix}, {"constraint file", in.constraints},
        {"parameter file", in.initparfile},
    };
    for (const auto &i : inputs) {
        if (same_file(out, i.name)) {
            pfunc("\n-- ERROR: The output image %s is the %s %s, which writing the\n"
                  "   output would destroy.  Choose another output name (B).\n\n",
                  in.output, i.what, i.name);
            return 1;
        }
    }
    return 0;
}

int outmodel(fitpars *fpar, convpars *cpar, image *d, image *model, derivs *df, double chisq,
             int ndof, int offx, int offy)
{
    mkmodel(model, df, fpar, cpar, 1);
    return outblock(fpar, d, model, chisq, ndof, offx, offy);
}
