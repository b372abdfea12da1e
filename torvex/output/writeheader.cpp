#include "torvex/output/writeheader.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <type_traits>

namespace {

// printf into a string of whatever length the text needs: names hold up
// to 1024 characters and "%f" of a large number is long.
std::string format(const char *fmt, ...)
{
    va_list ap, aq;
    va_start(ap, fmt);
    va_copy(aq, ap);
    int n = vsnprintf(nullptr, 0, fmt, ap);
    va_end(ap);
    std::string s(n > 0 ? n : 0, '\0');
    if (n > 0)
        vsnprintf(&s[0], n + 1, fmt, aq);
    va_end(aq);
    return s;
}

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
        int type = std::is_same<T, double>::value ? TDOUBLE
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

struct slotcard {
    const char *key; // format taking the component number
    const char *comment;
};

const slotcard XC = {"%i_XCENT", "X center [pixel]"};
const slotcard YC = {"%i_YCENT", "Y center [pixel]"};
const slotcard MAG = {"%i_MAG", "Total magnitude"};
const slotcard RE = {"%i_Re", "Effective radius Re [pixels]"};
const slotcard AL = {"%i_alpha", "alpha"};
const slotcard AR = {"%i_AR", "Axis ratio (b/a)"};
const slotcard PA = {"%i_PA", "Position Angle (PA) [Degrees: Up=0, Left=90]"};
const slotcard C = {"%i_C", "Diskiness (<0) or Boxiness (>0)"};
const slotcard NO = {nullptr, nullptr};

// Cards of slots 1..10 by type (leading characters of the type word).
// Every slot a type uses has a card of its own, so that the Moffat power
// law and the King parameters are kept in the header.
struct typecards {
    const char *type;
    slotcard slot[10];
};

const typecards types[] = {
    {"nuker",
     {XC, YC, {"%i_MU", "Surface brightness at Rb"}, {"%i_Rb", "Break radius Rb [pixels]"}, AL,
      {"%i_beta", "beta"}, {"%i_gamma", "gamma"}, AR, PA, C}},
    {"sersic", {XC, YC, MAG, RE, {"%i_n", "Sersic index"}, NO, NO, AR, PA, C}},
    {"devauc", {XC, YC, MAG, RE, NO, NO, NO, AR, PA, C}},
    {"expdisk", {XC, YC, MAG, {"%i_Rs", "Scalelength [pixels]"}, NO, NO, NO, AR, PA, C}},
    {"gauss", {XC, YC, MAG, {"%i_FWHM", "FWHM [pixels]"}, NO, NO, NO, AR, PA, C}},
    {"moffat",
     {XC, YC, MAG, {"%i_FWHM", "FWHM [pixels]"}, {"%i_POW", "Powerlaw"}, NO, NO, AR, PA, C}},
    {"psf", {XC, YC, MAG, NO, NO, NO, NO, NO, NO, NO}},
    {"king",
     {XC, YC, {"%i_MU0", "Central surface brightness"}, {"%i_Rc", "Core radius Rc [pixels]"},
      {"%i_Rt", "Tidal radius Rt [pixels]"}, AL, NO, AR, PA, C}},
};

void sky_cards(cards &out, const fitpars *p, int n, int offx, int offy)
{
    out.text(format("%i_XCENT", n), format("%-.4f", xskycent + offx), "X center [pixel]");
    out.text(format("%i_YCENT", n), format("%-.4f", yskycent + offy), "Y center [pixel]");
    out.text(format("%i_SKY", n), format("%-.4f +/- %-.4f", p->a[1], p->sig[1]),
             "Sky background [ADUs]");
    out.text(format("%i_DSKYDX", n), format("%-.4f +/- %-.4f", p->a[2], p->sig[2]),
             "x sky gradient [ADUs]");
    out.text(format("%i_DSKYDY", n), format("%-.4f +/- %-.4f", p->a[3], p->sig[3]),
             "y sky gradient [ADUs]");
}

int write_objects(cards &out, const fitpars *fpar, int offx, int offy)
{
    int n = 0;
    for (const fitpars *p = fpar; p; p = p->next) {
        n++;
        out.text(format("COMP_%i", n), p->objtype, "Object type");
        if (objtype_is(p->objtype, "sky")) {
            sky_cards(out, p, n, offx, offy);
        } else {
            for (const typecards &t : types) {
                if (!objtype_is(p->objtype, t.type))
                    continue;
                for (int j = 1; j <= 10; j++) {
                    const slotcard &c = t.slot[j - 1];
                    if (!c.key)
                        continue;
                    float v = p->a[j] + (j == 1 ? offx : j == 2 ? offy : 0);
                    out.text(format(c.key, n), format("%-.4f +/- %-.4f", v, p->sig[j]),
                             c.comment);
                }
                break;
            }
        }
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

int writeheader(const image *img, const fitpars *fpar, double chisq, int ndof, int hdu,
                int offx, int offy)
{
    fitsfile *f = nullptr;
    int status = 0;
    if (ffopen(&f, img->name, READWRITE, &status) || ffmahd(f, hdu, nullptr, &status)) {
        pfunc("\n Can't append to image header %s!\n", img->name);
        fflush(stdout);
        ffrprt(stderr, status);
        if (f) {
            status = 0;
            ffclos(f, &status);
            ffcmsg();
        }
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
    out.text("CBOXCENT", format("%-.2f, %-.2f", input.cboxcent[1], input.cboxcent[2]),
             "Convolution box center");
    out.text("CONVBOX", format("%i, %i", input.convbox[1], input.convbox[2]),
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
        fflush(stdout);
        ffrprt(stderr, status);
        return OUTPUT_LOST;
    }
    return out.failures();
}
