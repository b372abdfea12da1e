#include "torvex/fit/to_mini.h"

#include "torvex/display/quit.h"
#include "torvex/model/component_types.h"

#include <algorithm>
#include <new>

image *new_image_record()
{
    image *m = new (std::nothrow) image;
    if (!m) {
        pfunc("Error in allocating memory for mini-image....");
        quit_run(1);
    }
    return m;
}

image *to_mini(const image *img, float outside)
{
    image *m = new_image_record();
    *m = *img;
    m->z = nullptr;

    section_bounds sect;
    read_section(img->imgsect, &sect);
    const long x1 = sect.x1, x2 = sect.x2, y1 = sect.y1, y2 = sect.y2;
    m->naxes[1] = x2 - x1 + 1;
    m->naxes[2] = y2 - y1 + 1;
    if (m->naxes[1] < 1 || m->naxes[2] < 1) {
        m->naxes[1] = m->naxes[2] = 0;
        return m;
    }
    m->z = matrix(1, m->naxes[2], 1, m->naxes[1]);

    // Every pixel gets a value: the part of the section outside the source
    // takes the caller's fill value.
    float *flat = &m->z[1][1];
    std::fill(flat, flat + m->naxes[1] * m->naxes[2], outside);
    long xa = std::max(x1, 1L), xb = std::min(x2, img->naxes[1]);
    long ya = std::max(y1, 1L), yb = std::min(y2, img->naxes[2]);
    if (!img->z)
        return m;
    for (long y = ya; y <= yb; y++)
        for (long x = xa; x <= xb; x++)
            m->z[y - y1 + 1][x - x1 + 1] = img->z[y][x];
    return m;
}

void free_mini(image *img)
{
    if (!img)
        return;
    if (img->z)
        free_matrix(img->z, 1, img->naxes[2], 1, img->naxes[1]);
    delete img;
}

void offset_center(fitpars *fpar, convpars *cpar, float xoff, float yoff)
{
    for (fitpars *p = fpar; p; p = p->next) {
        if (!has_position(p->objtype))
            continue;
        p->a[SLOT_X] += xoff;
        p->a[SLOT_Y] += yoff;
    }
    cpar->cent[1] += xoff;
    cpar->cent[2] += yoff;
}

void subimg(const image *data, const image *model, image *result)
{
    for (long y = 1; y <= model->naxes[2]; y++)
        for (long x = 1; x <= model->naxes[1]; x++)
            result->z[y][x] = data->z[y][x] - model->z[y][x];
}

void blank_img(image *data, const inpars &input)
{
    section_bounds r;
    if (read_section(input.imgsect, &r) != 4) {
        pfunc("\n-- ERROR: The parameter file gives no fitting region (H), so there is\n"
              "   nothing to make the model over.\n\n");
        quit_run(2);
    }
    if (r.x2 < 1 || r.y2 < 1)
        quit_empty_region();
    write_section(data->imgsect, r);
    data->naxes[1] = r.x2;
    data->naxes[2] = r.y2;
    data->z = matrix(1, r.y2, 1, r.x2);
    std::fill(&data->z[1][1], &data->z[1][1] + static_cast<long>(r.x2) * r.y2, 0.0f);
    // No file supplies these; the defaults are those of readfits.
    data->exptime = 1.0f;
    data->gain = 7.0f;
    data->rdnoise = 5.24f;
    data->ncombine = 1.0f;
}
