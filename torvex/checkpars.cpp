#include "torvex/checkpars.h"

#include "torvex/ellipse.h"
#include "torvex/mkmodel.h"

#include <cmath>

namespace {

bool on_ellipse(const char *type)
{
    return !objtype_is(type, "psf") && !objtype_is(type, "sky");
}

} // namespace

const char *slot_problem(const char *type, int slot, float value, bool completed)
{
    if (!std::isfinite(value))
        return "A parameter must be a finite number";
    if (on_ellipse(type)) {
        if (slot == 8 && !(value > 0))
            return "The axis ratio must be above 0";
        if (slot == 10 && value + 2 < kMinEllipseExponent)
            return "The diskiness/boxiness must be -1.9 or more";
    }
    const bool sersic = objtype_is(type, "sersic");
    if (sersic || objtype_is(type, "devauc")) {
        if (slot == 4 && !(value > 0))
            return "R_e must be above 0";
        // Below the start of the kappa table (2n = 0.11) kappa turns negative.
        if (sersic && slot == 5 && value < 0.055f)
            return "The Sersic index must be 0.055 or more";
    } else if (objtype_is(type, "expdisk")) {
        if (slot == 4 && !(value > 0))
            return "Rs must be above 0";
    } else if (objtype_is(type, "gaussian")) {
        if (slot == 4 && value == 0)
            return "The FWHM must not be 0";
    } else if (objtype_is(type, "moffat")) {
        if (slot == 4 && value == 0)
            return "The FWHM must not be 0";
        if (slot == 5 && !(value > 1))
            return "The Moffat power law must be above 1 (its total flux is infinite otherwise)";
    } else if (objtype_is(type, "king")) {
        if (slot == 4 && value == 0)
            return "The King core radius must not be 0";
        if (slot == 6 && (completed ? !(value > 0) : value < 0))
            return "The King alpha must be above 0";
    } else if (objtype_is(type, "nuker")) {
        if (slot == 4 && !(value > 0))
            return "The Nuker break radius must be above 0";
        if (slot == 7 && !(value < 2))
            return "The Nuker gamma must be below 2 (its central light is infinite otherwise)";
    }
    return nullptr;
}

int check_components(const fitpars *fpar)
{
    int problems = 0, n = 0;
    for (const fitpars *p = fpar; p; p = p->next) {
        if (objtype_is(p->objtype, "none"))
            continue;
        n++;
        if (!component_available(p->objtype)) {
            pfunc("-- Component %d: the type \"%s\" cannot be rendered by this version of torvex.\n",
                  n, p->objtype);
            problems++;
            continue;
        }
        for (int k = 1; k <= 10; k++) {
            if (p->ia[k] == -1)
                continue; // a slot this type does not use
            if (const char *why = slot_problem(p->objtype, k, p->a[k], true)) {
                pfunc("-- Component %d (%s), parameter %d: %s; %g refused.\n", n, p->objtype, k,
                      why, p->a[k]);
                problems++;
            }
        }
    }
    return problems;
}
