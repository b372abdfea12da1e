#include "torvex/output/fitlog.h"

#include "torvex/output/outmenu.h"
#include "torvex/model/pa.h"

#include <cerrno>
#include <cmath>
#include <cstring>

void fprintpar(int lowx, int lowy, fitpars *fpar, FILE *ftype, const char *newout,
               const double *sig, double chisq, int ndof, bool output_written)
{
    const char *rule =
        "-----------------------------------------------------------------------------\n";
    // sqrt of chi^2/nu rounded to single precision, as the fit scales them.
    double scale = sqrt(static_cast<double>(static_cast<float>(chisq / ndof)));

    fprintf(ftype, "%s\n", rule);
    fprintf(ftype, "Input image     : %s%s \n", input.data, input.imgsect);
    fprintf(ftype, "Init. par. file : %s \n", input.initparfile);
    fprintf(ftype, "Restart file    : %s \n", newout);
    fprintf(ftype, "Output image    : %s%s \n\n", input.output,
            output_written ? "" : " (not written)");

    int base = 0; // index of slot 0 of the current component in sig
    for (fitpars *p = fpar; p; p = p->next, base += 10) {
        p->a[9] = pa(p->a[9]);
        const float *a = p->a;
        const char *t = p->objtype;
        // An uncertainty of 0 (fixed, or a run without a fit) stays 0 even
        // when the scale is not finite.
        auto e = [&](int j) { return sig[base + j] == 0 ? 0.0 : sig[base + j] * scale; };
        float x = lowx + a[1] - 1, y = lowy + a[2] - 1;

        if (objtype_is(t, "sersic") || objtype_is(t, "moffat")) {
            fprintf(ftype,
                    " %-9s: (%-.2f, %-.2f)   %-5.2f   %-5.2f   %-5.2f   %-5.2f  %-5.2f  %-5.2f\n",
                    t, x, y, a[3], a[4], a[5], a[8], a[9], a[10]);
            fprintf(ftype, " %-12s (%-.2f, %-.2f)   %-5.2f   ", "", e(1), e(2), e(3));
            fprintf(ftype, "%-5.2f   %-5.2f   %-5.2f  %-5.2f  %-5.2f\n", e(4), e(5), e(8), e(9),
                    e(10));
        } else if (objtype_is(t, "devauc") || objtype_is(t, "expdisk")) {
            fprintf(ftype, " %-9s: (%-.2f, %-.2f)   %-6.2f  %-6.2f  %-6.2f  %-6.2f  %-6.2f\n", t,
                    x, y, a[3], a[4], a[8], a[9], a[10]);
            fprintf(ftype, " %-12s (%-.2f, %-.2f)   %-6.2f  %-6.2f  %-6.2f  %-6.2f  %-6.2f\n", "",
                    e(1), e(2), e(3), e(4), e(8), e(9), e(10));
        } else if (objtype_is(t, "nuker")) {
            fprintf(ftype,
                    " %-9s: (%-.2f, %-.2f)  %-4.2f  %-6.2f  %-4.2f %-4.2f %-4.2f  %-4.2f  %-5.2f "
                    "%-5.2f\n",
                    t, x, y, a[3], a[4], a[5], a[6], a[7], a[8], a[9], a[10]);
            fprintf(ftype,
                    " %-12s (%-.2f, %-.2f)  %-4.2f  %-6.2f %-4.2f  %-4.2f  %-4.2f  %-4.2f  %-5.2f "
                    " %-5.2f\n",
                    "", e(1), e(2), e(3), e(4), e(5), e(6), e(7), e(8), e(9), e(10));
        } else if (objtype_is(t, "king")) {
            fprintf(ftype, " %-9s: (%6.2f, %6.2f)  %5.2f  %6.2f  %6.2f %5.2f %5.2f %6.2f %6.2f\n", t,
                    x, y, a[3], a[4], a[5], a[6], a[8], a[9], a[10]);
            fprintf(ftype,
                    " %-12s (%-.2f, %-.2f)   %-6.2f  %-6.2f  %-5.2f %-5.2f %-5.2f  %-5.2f  %-5.2f\n",
                    "", e(1), e(2), e(3), e(4), e(5), e(6), e(8), e(9), e(10));
        } else if (objtype_is(t, "gaussian")) {
            fprintf(ftype, " %-9s: (%-.2f, %-.2f)   %-6.2f   %-6.2f   %-6.2f   %-6.2f  %-6.2f\n", t,
                    x, y, a[3], a[4], a[8], a[9], a[10]);
            fprintf(ftype, " %-12s (%-.2f, %-.2f)   %-6.2f   %-6.2f   %-6.2f   %-6.2f  %-6.2f\n",
                    "", e(1), e(2), e(3), e(4), e(8), e(9), e(10));
        } else if (objtype_is(t, "psf")) {
            fprintf(ftype, " %-9s: (%-.2f, %-.2f)   %-6.2f   \n", t, x, y, a[3]);
            fprintf(ftype, " %-12s (%-.2f, %-.2f)   %-6.2f\n", "", e(1), e(2), e(3));
        } else if (objtype_is(t, "sky")) {
            fprintf(ftype, " sky      : [%-.2f, %-.2f]   %-5.2e   %-5.2e   %-5.2e\n",
                    lowx + xskycent - 1, lowy + yskycent - 1, a[1], a[2], a[3]);
            fprintf(ftype, "                             %-5.2e   %-5.2e   %-5.2e\n", e(1), e(2),
                    e(3));
        }
    }

    fprintf(ftype, " Chi^2 = %.5f,  ndof = %d\n", chisq, ndof);
    fprintf(ftype, " Chi^2/nu = %.3f \n\n", chisq / ndof);
    fprintf(ftype, "%s", rule);
}

int fitlog(int lowx, int lowy, fitpars *fpar, const char *newout, const double *sig,
           double chisq, int ndof, bool output_written)
{
    FILE *log = fopen("fit.log", "a");
    if (!log) {
        pfunc("\n-- ERROR: Cannot open fit.log for appending: %s.  The summary of this run\n"
              "   is not logged.\n",
              strerror(errno));
        return 1;
    }
    fprintpar(lowx, lowy, fpar, log, newout, sig, chisq, ndof, output_written);
    bool failed = ferror(log) != 0;
    if (fclose(log) != 0 || failed) {
        pfunc("\n-- ERROR: Cannot write fit.log: %s.\n", strerror(errno));
        return 1;
    }
    return 0;
}
