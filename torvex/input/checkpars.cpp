#include "torvex/input/checkpars.h"

#include "torvex/model/mkmodel.h"
#include "torvex/model/render.h"

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

namespace {

// The counts that slot 3 asks for: a total magnitude, or for the King and
// Nuker profiles a surface brightness per pixel.  The exposure time and the
// profile's own factors come on top, so the bound leaves room below the
// largest float.
const char *too_bright(const fitpars *p, float magzpt, float muzpt)
{
    if (objtype_is(p->objtype, "sky") || !std::isfinite(p->a[3]))
        return nullptr;
    const bool surface = objtype_is(p->objtype, "king") || objtype_is(p->objtype, "nuker");
    const double counts = surface ? render::surface_intensity(muzpt, p->a[3])
                                  : render::flux(magzpt, p->a[3]);
    if (counts <= 1e30)
        return nullptr;
    return surface ? "The surface brightness asks for more than 1e30 counts per pixel"
                   : "The magnitude asks for more than 1e30 counts";
}

} // namespace

int check_components(const fitpars *fpar, float magzpt, float muzpt)
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
            const char *why = slot_problem(p->objtype, k, p->a[k], true);
            if (!why && k == 3)
                why = too_bright(p, magzpt, muzpt);
            if (why) {
                pfunc("-- Component %d (%s), parameter %d: %s; %g refused.\n", n, p->objtype, k,
                      why, p->a[k]);
                problems++;
            }
        }
    }
    // Nothing to render or fit: every output would describe no model.
    if (n == 0) {
        pfunc("-- The parameter file gives no component to fit or to render.\n");
        problems++;
    }
    return problems;
}
