#include "torvex/input/menu.h"

#include <cstdio>
#include <cstring>

namespace {

const char *const P1 = " 1) %-7.4f %-7.4f %d %d  #   position x, y\n";
const char *const P1b = " 1) %-7.4f %-7.4f %d %d  #   position x, y \n";
const char *const TM = " 3) %-7.4f    %-5d   #  total magnitude \n";
const char *const RE = " 4) %-7.4f    %-5d   #      R_e\n";
const char *const M3 = " 3) %-7.4f    %-5d   #   magnitude \n";
const char *const FW = " 4) %-7.4f    %-5d   #     FWHM           \n";
const char *const D5 = " 5) %-7.4f    %-5d   #     ----- \n";
const char *const D6 = " 6) %-7.4f    %-5d   #     ----- \n";
const char *const D7 = " 7) %-7.4f    %-5d   #     ----- \n";

// Formats of the position line and of lines 3 to 7, per profile type.
struct layout {
    const char *type;
    const char *line1;
    const char *line[5];
};

const layout layouts[] = {
    {"nuker", P1,
     {" 3) %-7.4f    %-5d   #     mu(Rb)\n", " 4) %-7.4f    %-5d   #      Rb\n",
      " 5) %-7.4f    %-5d   #     alpha \n", " 6) %-7.4f    %-5d   #      beta \n",
      " 7) %-7.4f    %-5d   #     gamma \n"}},
    {"king", P1,
     {" 3) %-7.4f    %-5d   #     mu(0) \n", " 4) %-7.4f    %-5d   #      Rc \n",
      " 5) %-7.4f    %-5d   #      Rt \n", " 6) %-7.4f    %-5d   #    alpha \n", D7}},
    {"expdisk", P1, {TM, " 4) %-7.4f    %-5d   #      Rs \n", D5, D6, D7}},
    {"sersic", P1,
     {TM, RE, " 5) %-7.4f    %-5d   #  exponent (de Vaucouleurs = 4) \n", D6, D7}},
    {"devauc", P1, {TM, RE, D5, D6, D7}},
    {"gaussian", P1b, {M3, FW, D5, D6, D7}},
    {"psf", P1b, {M3, " 4) %-7.4f    %-5d   #     ----- \n", D5, D6, D7}},
    {"moffat", P1b,
     {" 3) %-7.4f    %-5d   #   magnitude        \n", FW,
      " 5) %-7.4f    %-5d   #   powerlaw \n", D6, D7}},
};

void write_object(const fitpars *p, FILE *out, float xoffset, float yoffset)
{
    if (objtype_is(p->objtype, "sky")) {
        fprintf(out, " 1) %-7.4f    %-5d   #  sky background at center of fitting region  \n",
                p->a[1], p->ia[1]);
        fprintf(out, " 2) %-7.4f    %-5d   #  dsky/dx (sky gradient in x) \n", p->a[2], p->ia[2]);
        fprintf(out, " 3) %-7.4f    %-5d   #  dsky/dy (sky gradient in y) \n", p->a[3], p->ia[3]);
        return;
    }
    for (const layout &l : layouts) {
        if (!objtype_is(p->objtype, l.type))
            continue;
        fprintf(out, l.line1, p->a[1] + xoffset, p->a[2] + yoffset, p->ia[1], p->ia[2]);
        for (int k = 3; k <= 7; k++)
            fprintf(out, l.line[k - 3], p->a[k], p->ia[k]);
        break;
    }
    fprintf(out, " 8) %-7.4f    %-5d   #  axis ratio (b/a)  \n", p->a[8], p->ia[8]);
    fprintf(out, " 9) %-7.4f    %-5d   #  position angle (PA) \n", p->a[9], p->ia[9]);
    fprintf(out, "10) %-7.4f    %-5d   #  diskiness(-)/boxiness(+)\n", p->a[10], p->ia[10]);
}

} // namespace

void menu(const inpars *input, const fitpars *fpar, FILE *out, float xoffset, float yoffset,
          float chisq, int ndof)
{
    if (chisq > 0)
        fprintf(out, "\n#  Chi^2/nu = %.3f,  Chi^2 = %.3f,  Ndof = %d", chisq / ndof, chisq,
                ndof);
    fprintf(out, "\n\n");
    fprintf(out, "================================================================================\n");
    fprintf(out, "# IMAGE and TORVEX CONTROL PARAMETERS\n");
    fprintf(out, "A) %-14s      # Input data image (FITS file)\n", input->data);
    fprintf(out, "B) %-14s      # Output data image block\n", input->output);
    fprintf(out, "C) %-14s      # Sigma image name ", input->sigma);
    fprintf(out, "(made from data if blank or \"none\") \n");
    fprintf(out, "D) %-10s %-8s # Input PSF image and ", input->psf, input->kernel);
    fprintf(out, "(optional) diffusion kernel\n");
    fprintf(out, "E) %-14d      # PSF oversampling factor relative to data \n", input->sampfac);
    fprintf(out, "F) %-14s      # Bad pixel mask (FITS image or ASCII coord list)\n",
            input->badpix);
    fprintf(out, "G) %-14s      # File with parameter constraints (ASCII file) \n",
            input->constraints);
    section_bounds r;
    read_section(input->imgsect, &r);
    fprintf(out, "H) %-4d %-4d %-4d %-4d # Image region to fit (xmin xmax ymin ymax)\n", r.x1,
            r.x2, r.y1, r.y2);
    fprintf(out, "I) %-6d %-6d       # Size of the convolution box (x y)\n", input->convbox[1],
            input->convbox[2]);
    fprintf(out, "J) %-14.3f      # Magnitude photometric zeropoint \n", input->magzpt);
    fprintf(out, "K) %-6.3f %-6.3f       # Plate scale ", input->d[1], input->d[2]);
    fprintf(out, "(dx dy) \n");
    fprintf(out, "O) %-14s      # Display type (regular, curses, both)\n", input->device);
    fprintf(out, "P) %-14d      # Create ouput only? (1=yes; 0=optimize) \n", input->create);
    fprintf(out, "S) %-14d      # Modify/create objects interactively?\n", input->interact);
    fprintf(out, "\n");
    fprintf(out, "# INITIAL FITTING PARAMETERS\n");
    fprintf(out, "#\n");
    fprintf(out, "#   For object type, the allowed functions are: \n");
    fprintf(out, "#       nuker, sersic, expdisk, devauc, king, psf, gaussian, and moffat.\n");
    fprintf(out, "\n");
    fprintf(out, "# Objtype:      Fit?         Parameters \n");
    fprintf(out, "\n");

    int n = 1;
    for (const fitpars *p = fpar; p && !objtype_is(p->objtype, "none"); p = p->next, n++) {
        fprintf(out, "# Object number: %d\n", n);
        fprintf(out, " 0) %10s         #    Object type\n", p->objtype);
        write_object(p, out, xoffset, yoffset);
        fprintf(out, " Z) %-6d             #  Output option (0 = residual, 1 = Don't subtract) \n",
                p->outtype);
        fprintf(out, "\n");
    }
    fprintf(out, "================================================================================\n");
    fprintf(out, "\n");
}
