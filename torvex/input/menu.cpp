#include "torvex/input/menu.h"

#include "torvex/model/component_types.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The parameter lines of one component: the position (two values and two
// flags on line 1), then a line for every other slot the type describes.
void write_object(const fitpars *p, FILE *out, float xoffset, float yoffset)
{
    const component_type *t = find_component_type(p->objtype);
    if (!t)
        return;
    const bool positioned = t->kind != component_kind::plane;
    for (int k = 1; k <= NSLOTS; k++) {
        const char *text = t->slot[k].menu;
        if (positioned && k == SLOT_X) {
            fprintf(out, " 1) %-7.4f %-7.4f %d %d  #%s\n", p->a[SLOT_X] + xoffset,
                    p->a[SLOT_Y] + yoffset, p->ia[SLOT_X], p->ia[SLOT_Y], text);
        } else if (text && !(positioned && k == SLOT_Y)) {
            fprintf(out, "%2d) %-7.4f    %-5d   #%s\n", k, p->a[k], p->ia[k], text);
        }
    }
}

// "nuker, sersic, ..., and moffat": the types with a position.
std::string type_list()
{
    int n = 0;
    const component_type *types = component_types(&n);
    std::vector<const char *> words;
    for (int i = 0; i < n; i++)
        if (types[i].kind != component_kind::plane)
            words.push_back(types[i].word);
    std::string list;
    for (size_t i = 0; i < words.size(); i++)
        list += std::string(i == 0 ? "" : i + 1 == words.size() ? ", and " : ", ") + words[i];
    return list;
}

} // namespace

void menu(const inpars *input, const fitpars *fpar, FILE *out, float xoffset, float yoffset,
          float chisq, int ndof)
{
    if (chisq > 0)
        fprintf(out, "\n#  Chi^2/nu = %.3f,  Chi^2 = %.3f,  Ndof = %d", chisq / ndof, chisq, ndof);
    fprintf(out, "\n\n");
    fprintf(out,
            "================================================================================\n");
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
    fprintf(out, "H) %-4d %-4d %-4d %-4d # Image region to fit (xmin xmax ymin ymax)\n", r.x1, r.x2,
            r.y1, r.y2);
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
    fprintf(out, "#       %s.\n", type_list().c_str());
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
    fprintf(out,
            "================================================================================\n");
    fprintf(out, "\n");
}
