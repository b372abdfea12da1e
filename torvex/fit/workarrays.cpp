#include "torvex/fit/workarrays.h"

#include "torvex/model/component_types.h"
#include "torvex/psf/convregion.h"

#include <cstdio>
#include <new>

namespace {

void allocate_node(const fitpars *p, derivs *node)
{
    const long nx = node->naxes[1], ny = node->naxes[2];
    for (int i = 0; i <= 10; i++)
        node->dpm[i] = nullptr;
    if (nx <= 0 || ny <= 0)
        return;
    node->dpm[0] = matrix(1, ny, 1, nx);
    for (int i = 1; i <= 10; i++)
        if (p->ia[i] == 1)
            node->dpm[i] = matrix(1, ny, 1, nx);
}

// The node that follows node, allocated when there is none yet.
derivs *next_node(derivs *node)
{
    if (!node->next) {
        node->next = new (std::nothrow) derivs;
        if (!node->next)
            nrerror("Error in creating work array \n");
    }
    return node->next;
}

} // namespace

void create_work_arrays(const fitpars *fpar, image *model, derivs *df)
{
    derivs *node = df;
    for (const fitpars *p = fpar; p; p = p->next) {
        node->naxes[1] = model->naxes[1];
        node->naxes[2] = model->naxes[2];
        allocate_node(p, node);
        if (p->next)
            node = next_node(node);
    }
    delete_derivs(node->next);
    node->next = nullptr;
    model->z = nullptr;
    if (model->naxes[1] > 0 && model->naxes[2] > 0)
        model->z = matrix(1, model->naxes[2], 1, model->naxes[1]);
}

void create_conv_arrays(fitpars *fpar, convpars *cpar, image *model, derivs *df)
{
    derivs *node = df;
    for (fitpars *p = fpar; p; p = p->next) {
        if (!has_position(p->objtype)) {
            // The sky plane is never convolved: no box.
            node->naxes[1] = node->naxes[2] = 0;
            snprintf(node->imgsect, sizeof node->imgsect, "[0:0,0:0]");
        } else {
            convregion(node, p->a, model, cpar);
        }
        allocate_node(p, node);
        if (p->next)
            node = next_node(node);
    }
    delete_derivs(node->next);
    node->next = nullptr;
}

void annihilate_work_arrays(const fitpars *fpar, image *model, derivs *df)
{
    // Every image that exists was made for a flag of 1 (or is dpm[0]):
    // releasing what is there releases exactly what was made, even when a
    // flag changed since.
    derivs *node = df;
    for (const fitpars *p = fpar; p && node; p = p->next, node = node->next) {
        const long nx = node->naxes[1], ny = node->naxes[2];
        if (nx > 0 && ny > 0)
            for (int i = 0; i <= 10; i++)
                if (node->dpm[i])
                    free_matrix(node->dpm[i], 1, ny, 1, nx);
        for (int i = 0; i <= 10; i++)
            node->dpm[i] = nullptr;
    }
    if (model->z && model->naxes[1] > 0 && model->naxes[2] > 0)
        free_matrix(model->z, 1, model->naxes[2], 1, model->naxes[1]);
    model->z = nullptr;
}

void delete_derivs(derivs *node)
{
    delete_list(node);
}

void delete_fitpars(fitpars *node)
{
    delete_list(node);
}
