#include "torvex/model/component_types.h"

#include "torvex/model/nuker.h"
#include "torvex/model/profiles.h"
#include "torvex/model/sersic.h"
#include "torvex/model/sky.h"
#include "torvex/psf/psfunc.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>

namespace {

// Builders of the slots that several types share.
slot_desc param(const char *label, const char *meaning, const char *unit, const char *menu,
                const char *names = nullptr)
{
    slot_desc s;
    s.use = slot_use::parameter;
    s.label = label;
    s.meaning = meaning;
    s.unit = unit;
    s.menu = menu;
    s.names = names;
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

bool positive(float v)
{
    return v > 0;
}
bool not_zero(float v)
{
    return v != 0;
}

// The slots of every component with a position.
slot_desc centre_x(const char *menu)
{
    return param("XCENT", "X center", "pixel", menu, "x");
}
slot_desc centre_y()
{
    return param("YCENT", "Y center", "pixel", nullptr, "y");
}
slot_desc total_mag(const char *menu)
{
    return param("MAG", "Total magnitude", nullptr, menu, "mag");
}
const slot_desc AXIS_RATIO =
    limited(param("AR", "Axis ratio (b/a)", nullptr, "  axis ratio (b/a)  ", "q b/a"), positive,
            "The axis ratio must be above 0");
const slot_desc POSITION_ANGLE =
    param("PA", "Position Angle (PA)", "Degrees: Up=0, Left=90", "  position angle (PA) ", "pa");
// C = c + 2 must stay clearly above 0 (ellipse_exponent), and c below
// kMaxDiskiness.
const slot_desc DISKINESS = limited(
    param("C", "Diskiness (<0) or Boxiness (>0)", nullptr, "  diskiness(-)/boxiness(+)", "c"),
    [](float v) { return !(v + 2 < kMinEllipseExponent) && v <= kMaxDiskiness; },
    "The diskiness/boxiness must be from -1.9 to 1000");
const slot_desc EFFECTIVE_RADIUS =
    sized(limited(param("Re", "Effective radius Re", "pixels", "      R_e", "re"), positive,
                  "R_e must be above 0"));
const slot_desc FWHM = sized(limited(param("FWHM", "FWHM", "pixels", "     FWHM           "),
                                     not_zero, "The FWHM must not be 0"));

// The parameter-file comments of the position line: the types differ by a
// trailing blank.
constexpr const char *POSITION = "   position x, y";
constexpr const char *POSITION_ = "   position x, y ";

// The printed lines: the iteration line, and the value and uncertainty
// lines of fit.log.
struct print_lines {
    print_layout iteration, log_value, log_error;
};

print_layout layout(const char *head, std::initializer_list<print_field> fields)
{
    print_layout l{head, {}};
    int i = 0;
    for (const print_field &f : fields)
        l.field[i++] = f;
    return l;
}

constexpr const char *ITERATION_HEAD = " %-9s: (%6.2f, %6.2f)";
constexpr const char *LOG_HEAD = " %-9s: (%-.2f, %-.2f)";
constexpr const char *ERROR_HEAD = " %-12s (%-.2f, %-.2f)";

// Lines whose value and uncertainty lines in fit.log have the same fields.
print_lines same_log_fields(const print_layout &iteration, std::initializer_list<print_field> log)
{
    return {iteration, layout(LOG_HEAD, log), layout(ERROR_HEAD, log)};
}

// The lines of two sizes (Sersic, Moffat) and of one (exponential disk,
// de Vaucouleurs).
print_lines size_and_shape_lines()
{
    return same_log_fields(layout(ITERATION_HEAD, {{3, "  %7.2f"},
                                                   {4, " %8.2f"},
                                                   {5, " %7.2f"},
                                                   {8, "  %6.2f"},
                                                   {9, "  %6.2f"},
                                                   {10, " %6.2f"},
                                                   {0, "\n"}}),
                           {{3, "   %-5.2f"},
                            {4, "   %-5.2f"},
                            {5, "   %-5.2f"},
                            {8, "   %-5.2f"},
                            {9, "  %-5.2f"},
                            {10, "  %-5.2f"},
                            {0, "\n"}});
}
print_layout size_iteration()
{
    return layout(ITERATION_HEAD, {{3, "  %7.2f"},
                                   {4, " %8.2f"},
                                   {0, "    ----"},
                                   {8, "  %6.2f"},
                                   {9, "  %6.2f"},
                                   {10, " %6.2f"},
                                   {0, "\n"}});
}
print_lines size_lines()
{
    return same_log_fields(size_iteration(), {{3, "   %-6.2f"},
                                              {4, "  %-6.2f"},
                                              {8, "  %-6.2f"},
                                              {9, "  %-6.2f"},
                                              {10, "  %-6.2f"},
                                              {0, "\n"}});
}

// A light profile on the generalised ellipse: centre, slots 3 to 7 of its
// own, axis ratio, position angle and diskiness.
component_type profile(const char *word, brightness bright, component_function render,
                       const char *position, std::initializer_list<slot_desc> own,
                       const print_lines &lines)
{
    component_type t{word, component_kind::profile, bright,          render,
                     {},   lines.iteration,         lines.log_value, lines.log_error};
    t.slot[SLOT_X] = centre_x(position);
    t.slot[SLOT_Y] = centre_y();
    int k = SLOT_MAG;
    for (const slot_desc &s : own)
        t.slot[k++] = s;
    for (; k < SLOT_Q; k++)
        t.slot[k] = unused(DASHES);
    t.slot[SLOT_Q] = AXIS_RATIO;
    t.slot[SLOT_PA] = POSITION_ANGLE;
    t.slot[SLOT_C] = DISKINESS;
    return t;
}

const component_type TYPES[] = {
    profile("nuker", brightness::surface, nuker, POSITION,
            {param("MU", "Surface brightness at Rb", nullptr, "     mu(Rb)", "mag"),
             sized(limited(param("Rb", "Break radius Rb", "pixels", "      Rb", "rb"), positive,
                           "The Nuker break radius must be above 0")),
             param("alpha", "alpha", nullptr, "     alpha ", "alpha"),
             param("beta", "beta", nullptr, "      beta ", "beta"),
             limited(
                 param("gamma", "gamma", nullptr, "     gamma ", "gamma"),
                 [](float v) { return v < 2; },
                 "The Nuker gamma must be below 2 (its central light is infinite "
                 "otherwise)")},
            {layout(ITERATION_HEAD, {{3, "  %5.2f"},
                                     {4, " %7.2f"},
                                     {5, " %5.2f"},
                                     {6, " %4.2f"},
                                     {7, " %4.2f"},
                                     {8, "  %5.2f"},
                                     {9, " %5.2f"},
                                     {10, " %5.2f"},
                                     {0, "\n"}}),
             layout(LOG_HEAD, {{3, "  %-4.2f"},
                               {4, "  %-6.2f"},
                               {5, "  %-4.2f"},
                               {6, " %-4.2f"},
                               {7, " %-4.2f"},
                               {8, "  %-4.2f"},
                               {9, "  %-5.2f"},
                               {10, " %-5.2f"},
                               {0, "\n"}}),
             layout(ERROR_HEAD, {{3, "  %-4.2f"},
                                 {4, "  %-6.2f"},
                                 {5, " %-4.2f"},
                                 {6, "  %-4.2f"},
                                 {7, "  %-4.2f"},
                                 {8, "  %-4.2f"},
                                 {9, "  %-5.2f"},
                                 {10, "  %-5.2f"},
                                 {0, "\n"}})}),

    // Below the start of the kappa table (2n = 0.11) kappa turns negative.
    profile("sersic", brightness::magnitude, sersic, POSITION,
            {total_mag("  total magnitude "), EFFECTIVE_RADIUS,
             limited(
                 param("n", "Sersic index", nullptr, "  exponent (de Vaucouleurs = 4) ", "n"),
                 [](float v) { return !(v < 0.055f); }, "The Sersic index must be 0.055 or more")},
            size_and_shape_lines()),

    profile("expdisk", brightness::magnitude, exponential, POSITION,
            {total_mag("  total magnitude "),
             sized(limited(param("Rs", "Scalelength", "pixels", "      Rs ", "rs"), positive,
                           "Rs must be above 0"))},
            size_lines()),

    // The Sersic profile of index 4.
    [] {
        component_type t =
            profile("devauc", brightness::magnitude, sersic, POSITION,
                    {total_mag("  total magnitude "), EFFECTIVE_RADIUS}, size_lines());
        t.slot[SLOT_SERSIC_N].use = slot_use::preset;
        t.slot[SLOT_SERSIC_N].value = 4;
        return t;
    }(),

    [] {
        component_type t =
            profile("king", brightness::surface, king, POSITION,
                    {param("MU0", "Central surface brightness", nullptr, "     mu(0) ", "mag"),
                     sized(limited(param("Rc", "Core radius Rc", "pixels", "      Rc "), not_zero,
                                   "The King core radius must not be 0")),
                     sized(param("Rt", "Tidal radius Rt", "pixels", "      Rt ")),
                     limited(param("alpha", "alpha", nullptr, "    alpha ", "alpha"), positive,
                             "The King alpha must be above 0")},
                    {layout(ITERATION_HEAD, {{3, "  %7.2f"},
                                             {4, " %6.2f"},
                                             {5, " %6.2f"},
                                             {6, " %5.2f"},
                                             {8, " %5.2f"},
                                             {9, " %6.2f"},
                                             {10, " %6.2f"},
                                             {0, "\n"}}),
                     layout(" %-9s: (%6.2f, %6.2f)", {{3, "  %5.2f"},
                                                      {4, "  %6.2f"},
                                                      {5, "  %6.2f"},
                                                      {6, " %5.2f"},
                                                      {8, " %5.2f"},
                                                      {9, " %6.2f"},
                                                      {10, " %6.2f"},
                                                      {0, "\n"}}),
                     layout(ERROR_HEAD, {{3, "   %-6.2f"},
                                         {4, "  %-6.2f"},
                                         {5, "  %-5.2f"},
                                         {6, " %-5.2f"},
                                         {8, " %-5.2f"},
                                         {9, "  %-5.2f"},
                                         {10, "  %-5.2f"},
                                         {0, "\n"}})});
        // An alpha of 0 becomes 2 on completion.
        t.slot[SLOT_KING_ALPHA].value = 2;
        return t;
    }(),

    // The PSF image itself, scaled to the magnitude.  Its axis-ratio flag
    // is kept at 0, as every axis-ratio flag below 0.01 is.
    [] {
        component_type t =
            profile("psf", brightness::magnitude, psfunc, POSITION_, {total_mag("   magnitude ")},
                    {layout(ITERATION_HEAD,
                            {{3, "  %7.2f"}, {0, "     ----    ----    ----    ----   ----\n"}}),
                     layout(LOG_HEAD, {{3, "   %-6.2f"}, {0, "   \n"}}),
                     layout(ERROR_HEAD, {{3, "   %-6.2f"}, {0, "\n"}})});
        t.kind = component_kind::point;
        t.slot[SLOT_Q] = unused(AXIS_RATIO.menu);
        t.slot[SLOT_Q].use = slot_use::fixed;
        t.slot[SLOT_PA] = unused(POSITION_ANGLE.menu);
        t.slot[SLOT_C] = unused(DISKINESS.menu);
        return t;
    }(),

    profile("gaussian", brightness::magnitude, gaussian, POSITION_,
            {total_mag("   magnitude "), FWHM},
            same_log_fields(size_iteration(), {{3, "   %-6.2f"},
                                               {4, "   %-6.2f"},
                                               {8, "   %-6.2f"},
                                               {9, "   %-6.2f"},
                                               {10, "  %-6.2f"},
                                               {0, "\n"}})),

    profile("moffat", brightness::magnitude, moffat, POSITION_,
            {total_mag("   magnitude        "), FWHM,
             limited(
                 param("POW", "Powerlaw", nullptr, "   powerlaw "), [](float v) { return v > 1; },
                 "The Moffat power law must be above 1 (its total flux is infinite "
                 "otherwise)")},
            size_and_shape_lines()),

    // A plane through the level at the reference point (xskycent,
    // yskycent), whose slots are the level and its slopes.
    [] {
        const std::initializer_list<print_field> log = {
            {1, "   %-5.2e"}, {2, "   %-5.2e"}, {3, "   %-5.2e"}, {0, "\n"}};
        component_type t{"sky",
                         component_kind::plane,
                         brightness::none,
                         sky,
                         {},
                         layout(" sky      : [%6.2f, %6.2f]",
                                {{1, "  %7.2e"}, {2, "   %-5.2e"}, {3, "   %-5.2e"}, {0, "\n"}}),
                         layout(" sky      : [%-.2f, %-.2f]", log),
                         layout("                          ", log)};
        t.slot[SLOT_SKY] = param("SKY", "Sky background", "ADUs",
                                 "  sky background at center of fitting region  ", "sky");
        t.slot[SLOT_DSKY_DX] =
            param("DSKYDX", "x sky gradient", "ADUs", "  dsky/dx (sky gradient in x) ");
        t.slot[SLOT_DSKY_DY] =
            param("DSKYDY", "y sky gradient", "ADUs", "  dsky/dy (sky gradient in y) ");
        return t;
    }(),
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

int named_slot(const char *type, const char *name)
{
    const component_type *t = find_component_type(type);
    if (!t)
        return 0;
    for (int k = 1; k <= NSLOTS; k++) {
        // No name of a type begins another of its names: the first match is
        // the only one.
        for (const char *n = t->slot[k].names; n && *n;) {
            const size_t len = strcspn(n, " ");
            if (strncmp(name, n, len) == 0)
                return k;
            n += len + strspn(n + len, " ");
        }
    }
    return 0;
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
