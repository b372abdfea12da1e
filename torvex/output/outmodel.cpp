#include "torvex/output/outmodel.h"

#include "torvex/fit/to_mini.h"
#include "torvex/input/readfits.h"
#include "torvex/model/mkmodel.h"
#include "torvex/output/fitlog.h"
#include "torvex/output/writefits.h"
#include "torvex/output/writeheader.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The block could not be written: what there is of it is removed, as a
// file cut short would read as a finished one.
int output_lost()
{
    remove(fits_root(input.output).c_str());
    pfunc("\n-- ERROR: The output image %s could not be written; what was written of it\n"
          "   has been removed.\n",
          input.output);
    return OUTPUT_LOST;
}

} // namespace

int outblock(fitpars *fpar, image *d, image *model, double chisq, int ndof, int offx, int offy)
{
    strcpy(model->name, input.output);
    if (input.create == 1) {
        int hdu = writefits(nullptr, model, "model", 0);
        int failures = hdu ? writeheader(model, fpar, chisq, ndof, hdu, offx, offy) : OUTPUT_LOST;
        return failures == OUTPUT_LOST ? output_lost() : failures;
    }

    // The data file's header is the template of the data section's HDU.
    std::string phead = d->name;
    image section = *d;
    strcpy(section.name, input.output);
    if (writefits(phead.c_str(), &section, "original image", 0) == 0)
        return output_lost();

    // The model's HDU is the one writefits reports: when the template could
    // not be read, the data section went into the primary HDU and the model
    // is the second, not the third.
    int hdu = writefits(phead.c_str(), model, "model", 1);
    int failures = hdu ? writeheader(model, fpar, chisq, ndof, hdu, offx, offy) : OUTPUT_LOST;
    if (failures == OUTPUT_LOST)
        return output_lost();

    image residual = section;
    residual.z = matrix(1, d->naxes[2], 1, d->naxes[1]);
    subimg(d, model, &residual);
    hdu = writefits(phead.c_str(), &residual, "residual map", 1);
    free_matrix(residual.z, 1, d->naxes[2], 1, d->naxes[1]);
    return hdu ? failures : output_lost();
}

namespace {

bool same_file(const struct stat &a, const char *name)
{
    struct stat b;
    if (!*name || strcmp(name, "none") == 0)
        return false;
    return stat(fits_root(name).c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Creates a small FITS file under a scratch name beside the output, named
// like it, extends it by an image as the block is, and removes it again.
// Returns 0, or CFITSIO's status with its messages on the stack.
int try_output(const char *output)
{
    std::string name = output;
    if (!name.empty() && name[0] == '!')
        name.erase(0, 1);
    // The folder ends at the last '/' before any bracket of the extended
    // syntax (a filter may hold a '/').
    const size_t slash = name.rfind('/', name.find('['));
    const size_t base = slash == std::string::npos ? 0 : slash + 1;
    const std::string scratch = name.substr(0, base) + ".torvex-trial." +
                                std::to_string(static_cast<long>(getpid())) + "." +
                                name.substr(base);
    fitsfile *f = nullptr;
    int status = 0;
    long one[2] = {1, 1};
    float pixel = 0;
    ffinit(&f, ("!" + scratch).c_str(), &status);
    ffcrim(f, FLOAT_IMG, 2, one, &status);
    ffppr(f, TFLOAT, 1, 1, &pixel, &status);
    int st = 0;
    if (f)
        ffclos(f, status ? &st : &status);
    f = nullptr;
    if (status == 0 && ffopen(&f, scratch.c_str(), READWRITE, &status) == 0) {
        ffcrim(f, FLOAT_IMG, 2, one, &status);
        ffppr(f, TFLOAT, 1, 1, &pixel, &status);
        st = 0;
        ffclos(f, status ? &st : &status);
    }
    remove(fits_root(scratch.c_str()).c_str());
    return status;
}

// The name of the run's input that the existing output file out is, with
// what it is, or null.
const char *input_named(const inpars &in, const struct stat &out, const char **what)
{
    const struct {
        const char *what;
        const char *name;
    } inputs[] = {
        {"data image", in.data},
        {"sigma image", in.sigma},
        {"PSF image", in.psf},
        {"diffusion kernel", in.kernel},
        {"bad-pixel mask", in.badpix},
        {"constraint file", in.constraints},
        {"parameter file", in.initparfile},
    };
    for (const auto &i : inputs) {
        if (same_file(out, i.name)) {
            *what = i.what;
            return i.name;
        }
    }
    return nullptr;
}

// True when root, a file that does not exist yet, would be created as the
// log: the log's name in the current folder.  (An existing output is
// compared with the log by same_file.)
bool names_the_log(const std::string &root)
{
    const size_t slash = root.rfind('/');
    if (root.substr(slash == std::string::npos ? 0 : slash + 1) != FIT_LOG)
        return false;
    const std::string folder = slash == std::string::npos ? "." : root.substr(0, slash + 1);
    char *a = realpath(folder.c_str(), nullptr), *b = realpath(".", nullptr);
    const bool same = a && b && strcmp(a, b) == 0;
    free(a);
    free(b);
    return same;
}

} // namespace

int check_output(const inpars &in)
{
    // Neither would show before the fit: CFITSIO only fails on the block.
    const std::string root = fits_root(in.output);
    if (root.empty()) {
        pfunc("\n-- ERROR: No output image is named (B).  Choose an output name (B).\n\n");
        return 1;
    }
    // A file that does not exist yet is neither a folder nor an input.
    struct stat st;
    const bool exists = stat(root.c_str(), &st) == 0;
    if (exists) {
        if (S_ISDIR(st.st_mode)) {
            pfunc("\n-- ERROR: The output image %s is a folder.  "
                  "Choose another output name (B).\n\n",
                  in.output);
            return 1;
        }
        const char *what = nullptr;
        if (const char *name = input_named(in, st, &what)) {
            pfunc("\n-- ERROR: The output image %s is the %s %s, which writing the\n"
                  "   output would destroy.  Choose another output name (B).\n\n",
                  in.output, what, name);
            return 1;
        }
    }
    // The run appends its entry to the log after writing the output.
    if (exists ? same_file(st, FIT_LOG) : names_the_log(root)) {
        pfunc("\n-- ERROR: The output image %s is the log %s, to which every run appends\n"
              "   its summary.  Choose another output name (B).\n\n",
              in.output, FIT_LOG);
        return 1;
    }
    if (int status = try_output(in.output)) {
        char reason[FLEN_STATUS];
        ffgerr(status, reason);
        // The library's messages name the scratch file, not the output.
        ffcmsg();
        pfunc("\n-- ERROR: The output image %s cannot be written (%s).\n"
              "   Choose another output name (B).\n\n",
              in.output, reason);
        return 1;
    }
    return 0;
}

int outmodel(fitpars *fpar, convpars *cpar, image *d, image *model, derivs *df, double chisq,
             int ndof, int offx, int offy)
{
    mkmodel(model, df, fpar, cpar, 1);
    return outblock(fpar, d, model, chisq, ndof, offx, offy);
}
