#include "torvex/output/writeheader.h"

#include "torvex/model/component_types.h"
#include "torvex/output/writefits.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <type_traits>

namespace {

// Writes cards into the current HDU.  A card that fails is reported with
// CFITSIO's reason and counted; the status is cleared so that the cards
// after it are still written.
class cards {
public:
    cards(fitsfile *f) : f_(f) {}

    void comment(const char *text)
    {
        int status = 0;
        ffpcom(f_, text, &status);
        check(status, "COMMENT");
    }
    void text(const std::string &key, const std::string &value, const char *comment)
    {
        int status = 0;
        // Values longer than one card continue on CONTINUE cards; the
        // LONGSTRN card announces the convention once per header.
        if (value.size() > 68 && !longstrn_) {
            ffplsw(f_, &status);
            check(status, "LONGSTRN");
            longstrn_ = true;
            status = 0;
        }
        ffukls(f_, key.c_str(), value.c_str(), comment, &status);
        check(status, key.c_str());
    }
    // A floating value that is not finite has no FITS form: the card is
    // kept with an undefined value.
    template <typename T>
    void number(const char *key, T value, const char *comment)
    {
        int status = 0;
        int type = std::is_same<T, double>::value  ? TDOUBLE
                   : std::is_same<T, float>::value ? TFLOAT
                                                   : TINT;
        static_assert(std::is_same<T, double>::value || std::is_same<T, float>::value ||
                          std::is_same<T, int>::value,
                      "a FITS number card holds a double, a float or an int");
        if (std::isfinite(static_cast<double>(value)))
            ffuky(f_, type, key, &value, comment, &status);
        else
            ffukyu(f_, key, comment, &status);
        check(status, key);
    }
    int failures() const { return failures_; }

private:
    void check(int status, const char *key)
    {
        if (status == 0)
            return;
        char reason[FLEN_STATUS];
        ffgerr(status, reason);
        pfunc("-- ERROR: Cannot write the header card %s: %s\n", key, reason);
        ffcmsg();
        failures_++;
    }

    fitsfile *f_;
    bool longstrn_ = false;
    int failures_ = 0;
};

// The cards of one component: the type word, then a card for every slot the
// type names, "value +/- uncertainty".  A component without a position of
// its own (the sky) is centred on the reference point instead.
void object_cards(cards &out, const fitpars *p, int n, int offx, int offy)
{
    out.text(format_text("COMP_%i", n), p->objtype, "Object type");
    const component_type *t = find_component_type(p->objtype);
    if (!t)
        return;
    if (t->kind == component_kind::plane) {
        out.text(format_text("%i_XCENT", n), format_text("%-.4f", xskycent + offx),
                 "X center [pixel]");
        out.text(format_text("%i_YCENT", n), format_text("%-.4f", yskycent + offy),
                 "Y center [pixel]");
    }
    for (int j = 1; j <= NSLOTS; j++) {
        const slot_desc &s = t->slot[j];
        if (!s.label)
            continue;
        float v = p->a[j];
        if (t->kind != component_kind::plane)
            v += j == SLOT_X ? offx : j == SLOT_Y ? offy : 0;
        out.text(format_text("%i_%s", n, s.label), format_text("%-.4f +/- %-.4f", v, p->sig[j]),
                 slot_comment(s).c_str());
    }
}

int write_objects(cards &out, const fitpars *fpar, int offx, int offy)
{
    int n = 0;
    for (const fitpars *p = fpar; p; p = p->next) {
        object_cards(out, p, ++n, offx, offy);
        out.comment("------------------------");
    }
    return out.failures();
}

} // namespace

int objects_head(const fitpars *fpar, fitsfile *f, int offx, int offy)
{
    cards out(f);
    return write_objects(out, fpar, offx, offy);
}

int writeheader(const image *img, const fitpars *fpar, double chisq, int ndof, int hdu, int offx,
                int offy)
{
    fitsfile *f = nullptr;
    int status = 0;
    if (ffopen(&f, img->name, READWRITE, &status) || ffmahd(f, hdu, nullptr, &status)) {
        pfunc("\n Can't append to image header %s!\n", img->name);
        report_write_failure(f, status);
        return OUTPUT_LOST;
    }

    cards out(f);
    out.comment(" ");
    out.comment("========== TORVEX Input Parameters ==========");
    out.comment("");
    out.text("INITFILE", input.initparfile, "TORVEX input file");
    out.text("DATAIN", input.data, "Input data image");
    out.text("SIGMA", input.sigma, "Input sigma image");
    out.text("PSF", input.psf, "Convolution PSF");
    out.text("CONSTRNT", input.constraints, "Parameter constraint file");
    out.text("MASK", input.badpix, "Input mask image");
    out.text("FITSECT", input.imgsect, "Image section fitted");
    out.text("CBOXCENT", format_text("%-.2f, %-.2f", input.cboxcent[1], input.cboxcent[2]),
             "Convolution box center");
    out.text("CONVBOX", format_text("%i, %i", input.convbox[1], input.convbox[2]),
             "Convolution box size");
    out.number("MAGZPT", input.magzpt, "Magnitude zeropoint");
    out.comment("========== TORVEX Final Parameters ==========");
    write_objects(out, fpar, offx, offy);
    out.number("Chisq", chisq, "Chi^2 of fit");
    out.number("NDOF", ndof, "Degrees of Freedom");
    out.number("Chi2nu", static_cast<float>(chisq / ndof), "Reduced Chi^2");
    out.comment("=============================================");
    out.comment(" ");

    status = 0;
    if (ffclos(f, &status)) {
        pfunc("-- ERROR: Cannot finish the header of %s:\n", img->name);
        report_write_failure(nullptr, status);
        return OUTPUT_LOST;
    }
    return out.failures();
}
