#include "torvex/output/fitlog.h"

#include "torvex/fit/countdown.h"
#include "torvex/model/component_types.h"
#include "torvex/model/pa.h"
#include "torvex/output/outmenu.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <string>

void fprintpar(int lowx, int lowy, fitpars *fpar, FILE *ftype, const char *newout,
               const double *sig, double chisq, int ndof, bool output_written, bool stalled)
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
    for (fitpars *p = fpar; p; p = p->next, base += NSLOTS) {
        p->a[SLOT_PA] = pa(p->a[SLOT_PA]);
        const component_type *t = find_component_type(p->objtype);
        if (!t)
            continue;
        double e[NSLOTS + 1];
        for (int k = 1; k <= NSLOTS; k++) {
            // An uncertainty of 0 (fixed, or a run without a fit) stays 0
            // even when the scale is not finite.
            e[k] = sig[base + k] == 0 ? 0.0 : sig[base + k] * scale;
        }
        const std::string error = t->kind == component_kind::plane
                                      ? t->log_error.head
                                      : format_text(t->log_error.head, "", e[SLOT_X], e[SLOT_Y]);
        fputs(value_line(*t, t->log_value, *p, lowx, lowy).c_str(), ftype);
        fputs(print_line(t->log_error, error, e).c_str(), ftype);
    }

    fprintf(ftype, " Chi^2 = %.5f,  ndof = %d\n", chisq, ndof);
    fprintf(ftype, " Chi^2/nu = %.3f \n", chisq / ndof);
    if (stalled)
        fprintf(ftype, " No step of the fit lowered Chi^2: start values, not a fit.\n");
    fprintf(ftype, "\n%s", rule);
}

int fitlog(int lowx, int lowy, fitpars *fpar, const char *newout, const double *sig, double chisq,
           int ndof, bool output_written, bool stalled)
{
    FILE *log = fopen(FIT_LOG, "a");
    if (!log) {
        pfunc("\n-- ERROR: Cannot open fit.log for appending: %s.  The summary of this run\n"
              "   is not logged.\n",
              strerror(errno));
        return 1;
    }
    fprintpar(lowx, lowy, fpar, log, newout, sig, chisq, ndof, output_written, stalled);
    bool failed = ferror(log) != 0;
    if (fclose(log) != 0 || failed) {
        pfunc("\n-- ERROR: Cannot write fit.log: %s.\n", strerror(errno));
        return 1;
    }
    return 0;
}
