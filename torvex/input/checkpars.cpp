#include "torvex/input/checkpars.h"

#include "torvex/model/mkmodel.h"
#include "torvex/model/render.h"

#include <cmath>

namespace {

// The counts that slot 3 asks for: a total magnitude, or a surface
// brightness per pixel.  The exposure time and the profile's own factors
// come on top, so the bound leaves room below the largest float.
const char *too_bright(const fitpars *p, float magzpt, float muzpt)
{
    const component_type *t = find_component_type(p->objtype);
    const float m = p->a[SLOT_MAG];
    if ((t && t->bright == brightness::none) || !std::isfinite(m))
        return nullptr;
    const bool surface = t && t->bright == brightness::surface;
    const double counts = surface ? render::surface_intensity(muzpt, m) : render::flux(magzpt, m);
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
            pfunc(
                "-- Component %d: the type \"%s\" cannot be rendered by this version of torvex.\n",
                n, p->objtype);
            problems++;
            continue;
        }
        for (int k = 1; k <= NSLOTS; k++) {
            if (p->ia[k] == -1)
                continue; // a slot this type does not use
            const char *why = slot_problem(p->objtype, k, p->a[k], true);
            if (!why && k == SLOT_MAG)
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
