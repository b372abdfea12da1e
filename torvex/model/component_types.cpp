#include "torvex/model/component_types.h"

#include "torvex/model/nuker.h"
#include "torvex/model/profiles.h"
#include "torvex/model/sersic.h"
#include "torvex/model/sky.h"
#include "torvex/psf/psfunc.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <string>

namespace {

// Builders of the slots that several types share.
slot_desc param(const char *label, const char *meaning, const char *unit, const char *menu)
{
    slot_desc s;
    s.use = slot_use::parameter;
    s.label = label;
    s.meaning = meaning;
    s.unit = unit;
    s.menu = menu;
    return s;
}

slot_desc limited(slot_desc s, bool (*valid)(float), const char *problem)
{
    s.valid = valid;
    s.problem = problem;
    return s;
}

slot_desc sized(slot_desc s)
{
    s.size = true;
    return s;
}

// A slot the type does not use; its parameter-file line (when menu is not
// null) shows a placeholder.
slot_desc unused(const char *menu = nullptr)
{
    slot_desc s;
    s.menu = menu;
    return s;
}

constexpr const char *DASHES = "     ----- ";

bool positive(float v) { return v > 0; }
bool not_zero(float v) { return v != 0; }

// The ellipse slots of every profile.
slot_desc centre_x(const char *menu) { return param("XCENT", "X center", "pixel", menu); }
slot_desc centre_y() { return param("YCENT", "Y center", "pixel", nullptr); }
slot_desc total_mag(const char *menu) { return param("MAG", "Total magnitude", nullptr, menu); }
const slot_desc AXIS_RATIO = limited(param("AR", "Axis ratio (b/a)", nullptr, "  axis ratio (b/a)  "),
                                     positive, "The axis ratio must be above 0");
const slot_desc POSITION_ANGLE = param("PA", "Position Angle (PA)", "Degrees: Up=0, Left=90",
                                       "  position angle (PA) ");
// C = c + 2 must stay clearly above 0 (ellipse_exponent).
const slot_desc DISKINESS = limited(
    param("C", "Diskiness (<0) or Boxiness (>0)", nullptr, "  diskiness(-)/boxiness(+)"),
    [](float v) { return !(v + 2 < kMinEllipseExponent); },
    "The diskiness/boxiness must be -1.9 or more");

// The parameter-file comments of the position line: the types differ by a
// trailing blank.
constexpr const char *POSITION = "   position x, y";
constexpr const char *POSITION_ = "   position x, y ";

// Lines shared by several types.
const print_layout ITERATION_RN = {" %-9s: (%6.2f, %6.2f)",
                                   {{3, "  %7.2f"},
                                    {4, " %8.2f"},
                                    {5, " %7.2f"},
                                    {8, "  %6.2f"},
                                    {9, "  %6.2f"},
                                    {10, " %6.2f"},
                                    {0, "\n"}}};
const print_layout ITERATION_R = {" %-9s: (%6.2f, %6.2f)",
                                  {{3, "  %7.2f"},
                                   {4, " %8.2f"},
                                   {0, "    ----"},
                                   {8, "  %6.2f"},
                                   {9, "  %6.2f"},
                                   {10, " %6.2f"},
                                   {0, "\n"}}};
constexpr const char *LOG_HEAD = " %-9s: (%-.2f, %-.2f)";
constexpr const char *ERROR_HEAD = " %-12s (%-.2f, %-.2f)";
const print_field LOG_RN[] = {{3, "   %-5.2f"}, {4, "   %-5.2f"}, {5, "   %-5.2f"}, {8, "   %-5.2f"},
                              {9, "  %-5.2f"},  {10, "  %-5.2f"}, {0, "\n"}};
const print_field LOG_R[] = {{3, "   %-6.2f"}, {4, "  %-6.2f"}, {8, "  %-6.2f"},
                             {9, "  %-6.2f"},  {10, "  %-6.2f"}, {0, "\n"}};

print_layout layout(const char *head, const print_field *fields, int n)
{
    print_layout l{head, {}};
    for (int i = 0; i < n; i++)
        l.field[i] = fields[i];
    return l;
}
template <int N>
print_layout layout(const char *head, const print_field (&fields)[N])
{
    return layout(head, fields, N);
}

const component_type TYPES[] = {
    {"nuker",
     component_kind::profile,
     brightness::surface,
     nuker,
     {{},
      centre_x(POSITION),
      centre_y(),
      param("MU", "Surface brightness at Rb", nullptr, "     mu(Rb)"),
      sized(limited(param("Rb", "Break radius Rb", "pixels", "      Rb"), positive,
                    "The Nuker break radius must be above 0")),
      param("alpha", "alpha", nullptr, "     alpha "),
      param("beta", "beta", nullptr, "      beta "),
      limited(param("gamma", "gamma", nullptr, "     gamma "), [](float v) { return v < 2; },
              "The Nuker gamma must be below 2 (its central light is infinite otherwise)"),
      AXIS_RATIO,
      POSITION_ANGLE,
      DISKINESS},
     {" %-9s: (%6.2f, %6.2f)",
      {{3, "  %5.2f"},
       {4, " %7.2f"},
       {5, " %5.2f"},
       {6, " %4.2f"},
       {7, " %4.2f"},
       {8, "  %5.2f"},
       {9, " %5.2f"},
       {10, " %5.2f"},
       {0, "\n"}}},
     {LOG_HEAD,
      {{3, "  %-4.2f"},
       {4, "  %-6.2f"},
       {5, "  %-4.2f"},
       {6, " %-4.2f"},
       {7, " %-4.2f"},
       {8, "  %-4.2f"},
       {9, "  %-5.2f"},
       {10, " %-5.2f"},
       {0, "\n"}}},
     {ERROR_HEAD,
      {{3, "  %-4.2f"},
       {4, "  %-6.2f"},
       {5, " %-4.2f"},
       {6, "  %-4.2f"},
       {7, "  %-4.2f"},
       {8, "  %-4.2f"},
       {9, "  %-5.2f"},
       {10, "  %-5.2f"},
       {0, "\n"}}}},

    {"sersic",
     component_kind::profile,
     brightness::magnitude,
     sersic,
     {{},
      centre_x(POSITION),
      centre_y(),
      total_mag("  total magnitude "),
      sized(limited(param("Re", "Effective radius Re", "pixels", "      R_e"), positive,
                    "R_e must be above 0")),
      // Below the start of the kappa table (2n = 0.11) kappa turns negative.
      limited(param("n", "Sersic index", nullptr, "  exponent (de Vaucouleurs = 4) "),
              [](float v) { return !(v < 0.055f); }, "The Sersic index must be 0.055 or more"),
      unused(DASHES),
      unused(DASHES),
      AXIS_RATIO,
      POSITION_ANGLE,
      DISKINESS},
     ITERATION_RN,
     layout(LOG_HEAD, LOG_RN),
     layout(ERROR_HEAD, LOG_RN)},

    {"expdisk",
     component_kind::profile,
     brightness::magnitude,
     exponential,
     {{},
      centre_x(POSITION),
      centre_y(),
      total_mag("  total magnitude "),
      sized(limited(param("Rs", "Scalelength", "pixels", "      Rs "), positive,
                    "Rs must be above 0")),
      unused(DASHES),
      unused(DASHES),
      unused(DASHES),
      AXIS_RATIO,
      POSITION_ANGLE,
      DISKINESS},
     ITERATION_R,
     layout(LOG_HEAD, LOG_R),
     layout(ERROR_HEAD, LOG_R)},

    // The Sersic profile of index 4.
    {"devauc",
     component_kind::profile,
     brightness::magnitude,
     sersic,
     {{},
      centre_x(POSITION),
      centre_y(),
      total_mag("  total magnitude "),
      sized(limited(param("Re", "Effective radius Re", "pixels", "      R_e"), positive,
                    "R_e must be above 0")),
      [] {
          slot_desc s = unused(DASHES);
          s.use = slot_use::preset;
          s.value = 4;
          return s;
      }(),
      unused(DASHES),
      unused(DASHES),
      AXIS_RATIO,
      POSITION_ANGLE,
      DISKINESS},
     ITERATION_R,
     layout(LOG_HEAD, LOG_R),
     layout(ERROR_HEAD, LOG_R)},

    {"king",
     component_kind::profile,
     brightness::surface,
     king,
     {{},
      centre_x(POSITION),
      centre_y(),
      param("MU0", "Central surface brightness", nullptr, "     mu(0) "),
      sized(limited(param("Rc", "Core radius Rc", "pixels", "      Rc "), not_zero,
                    "The King core radius must not be 0")),
      sized(param("Rt", "Tidal radius Rt", "pixels", "      Rt ")),
      [] {
          slot_desc s = limited(param("alpha", "alpha", nullptr, "    alpha "), positive,
                                "The King alpha must be above 0");
          s.value = 2;
          return s;
      }(),
      unused(DASHES),
      AXIS_RATIO,
      POSITION_ANGLE,
      DISKINESS},
     {" %-9s: (%6.2f, %6.2f)",
      {{3, "  %7.2f"},
       {4, " %6.2f"},
       {5, " %6.2f"},
       {6, " %5.2f"},
       {8, " %5.2f"},
       {9, " %6.2f"},
       {10, " %6.2f"},
       {0, "\n"}}},
     {" %-9s: (%6.2f, %6.2f)",
      {{3, "  %5.2f"},
       {4, "  %6.2f"},
       {5, "  %6.2f"},
       {6, " %5.2f"},
       {8, " %5.2f"},
       {9, " %6.2f"},
       {10, " %6.2f"},
       {0, "\n"}}},
     {ERROR_HEAD,
      {{3, "   %-6.2f"},
       {4, "  %-6.2f"},
       {5, "  %-5.2f"},
       {6, " %-5.2f"},
       {8, " %-5.2f"},
       {9, "  %-5.2f"},
       {10, "  %-5.2f"},
       {0, "\n"}}}},

    // The PSF image itself, scaled to the magnitude.  Its axis-ratio flag
    // is kept at 0, as every axis-ratio flag below 0.01 is.
    {"psf",
     component_kind::point,
     brightness::magnitude,
     psfunc,
     {{},
      centre_x(POSITION_),
      centre_y(),
      total_mag("   magnitude "),
      unused(DASHES),
      unused(DASHES),
      unused(DASHES),
      unused(DASHES),
      [] {
          slot_desc s = unused(AXIS_RATIO.menu);
          s.use = slot_use::fixed;
          return s;
      }(),
      unused(POSITION_ANGLE.menu),
      unused(DISKINESS.menu)},
     {" %-9s: (%6.2f, %6.2f)",
      {{3, "  %7.2f"}, {0, "     ----    ----    ----    ----   ----\n"}}},
     {LOG_HEAD, {{3, "   %-6.2f"}, {0, "   \n"}}},
     {ERROR_HEAD, {{3, "   %-6.2f"}, {0, "\n"}}}},

    {"gaussian",
     component_kind::profile,
     brightness::magnitude,
     gaussian,
     {{},
      centre_x(POSITION_),
      centre_y(),
      total_mag("   magnitude "),
      sized(limited(param("FWHM", "FWHM", "pixels", "     FWHM           "), not_zero,
                    "The FWHM must not be 0")),
      unused(DASHES),
      unused(DASHES),
      unused(DASHES),
      AXIS_RATIO,
      POSITION_ANGLE,
      DISKINESS},
     ITERATION_R,
     {LOG_HEAD,
      {{3, "   %-6.2f"}, {4, "   %-6.2f"}, {8, "   %-6.2f"}, {9, "   %-6.2f"}, {10, "  %-6.2f"},
       {0, "\n"}}},
     {ERROR_HEAD,
      {{3, "   %-6.2f"}, {4, "   %-6.2f"}, {8, "   %-6.2f"}, {9, "   %-6.2f"}, {10, "  %-6.2f"},
       {0, "\n"}}}},

    {"moffat",
     component_kind::profile,
     brightness::magnitude,
     moffat,
     {{},
      centre_x(POSITION_),
      centre_y(),
      total_mag("   magnitude        "),
      sized(limited(param("FWHM", "FWHM", "pixels", "     FWHM           "), not_zero,
                    "The FWHM must not be 0")),
      limited(param("POW", "Powerlaw", nullptr, "   powerlaw "), [](float v) { return v > 1; },
              "The Moffat power law must be above 1 (its total flux is infinite otherwise)"),
      unused(DASHES),
      unused(DASHES),
      AXIS_RATIO,
      POSITION_ANGLE,
      DISKINESS},
     ITERATION_RN,
     layout(LOG_HEAD, LOG_RN),
     layout(ERROR_HEAD, LOG_RN)},

    // A plane through the level at the reference point (xskycent,
    // yskycent), whose slots are the level and its slopes.
    {"sky",
     component_kind::plane,
     brightness::none,
     sky,
     {{},
      param("SKY", "Sky background", "ADUs", "  sky background at center of fitting region  "),
      param("DSKYDX", "x sky gradient", "ADUs", "  dsky/dx (sky gradient in x) "),
      param("DSKYDY", "y sky gradient", "ADUs", "  dsky/dy (sky gradient in y) "),
      unused(),
      unused(),
      unused(),
      unused(),
      unused(),
      unused(),
      unused()},
     {" sky      : [%6.2f, %6.2f]", {{1, "  %7.2e"}, {2, "   %-5.2e"}, {3, "   %-5.2e"}, {0, "\n"}}},
     {" sky      : [%-.2f, %-.2f]", {{1, "   %-5.2e"}, {2, "   %-5.2e"}, {3, "   %-5.2e"}, {0, "\n"}}},
     {"                          ", {{1, "   %-5.2e"}, {2, "   %-5.2e"}, {3, "   %-5.2e"}, {0, "\n"}}}},
};

constexpr int NTYPES = sizeof TYPES / sizeof TYPES[0];

} // namespace

const component_type *find_component_type(const char *word)
{
    for (const component_type &t : TYPES)
        if (objtype_is(word, t.word))
            return &t;
    return nullptr;
}

const component_type *component_types(int *n)
{
    *n = NTYPES;
    return TYPES;
}

bool has_position(const char *word)
{
    const component_type *t = find_component_type(word);
    return !t || t->kind != component_kind::plane;
}

const char *slot_problem(const char *type, int slot, float value, bool completed)
{
    if (!std::isfinite(value))
        return "A parameter must be a finite number";
    const component_type *t = find_component_type(type);
    if (!t || slot < 1 || slot > NSLOTS)
        return nullptr;
    const slot_desc &s = t->slot[slot];
    if (!s.valid || s.valid(value))
        return nullptr;
    if (!completed && value == 0 && s.value != 0 && s.use == slot_use::parameter)
        return nullptr; // completion gives it its value
    return s.problem;
}

std::string slot_comment(const slot_desc &s)
{
    std::string c = s.meaning ? s.meaning : "";
    if (s.unit)
        c += std::string(" [") + s.unit + "]";
    return c;
}

std::string format_text(const char *fmt, ...)
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

std::string print_line(const print_layout &l, const std::string &head, const double *values)
{
    std::string line = head;
    for (const print_field &f : l.field) {
        if (!f.format)
            break;
        line += f.slot == 0 ? format_text("%s", f.format) : format_text(f.format, values[f.slot]);
    }
    return line;
}
