#include "torvex/workarrays.h"

#include <new>

void create_work_arrays(fitpars *fpar, image *model, derivs *df)
{
    derivs *node = df;
    for (fitpars *p = fpar; p; p = p->next) {
        node->naxes[1] = model->naxes[1];
        node->naxes[2] = model->naxes[2];
        for (int i = 0; i <= 10; i++)
            if (i == 0 || p->ia[i] == 1)
                node->dpm[i] = matrix(1, node->naxes[2], 1, node->naxes[1]);
        if (p->next) {
            node->next = new (std::nothrow) derivs;
            if (!node->next)
                nrerror("Error in creating work array \n");
            node = node->next;
        }
    }
    node->next = nullptr;
    if (model->naxes[1] > 0 && model->naxes[2] > 0)
        model->z = matrix(1, model->naxes[2], 1, model->naxes[1]);
}

void annihilate_work_arrays(fitpars *fpar, image *img, derivs *df)
{
    derivs *node = df;
    for (fitpars *p = fpar; p && node; p = p->next, node = node->next) {
        if (node->naxes[1] == 0 || node->naxes[2] == 0)
            continue;
        for (int i = 0; i <= 10; i++) {
            if ((i == 0 || p->ia[i] == 1) && node->dpm[i]) {
                free_matrix(node->dpm[i], 1, node->naxes[2], 1, node->naxes[1]);
                node->dpm[i] = nullptr;
            }
        }
    }
    if (img->naxes[1] != 0 && img->naxes[2] != 0 && img->z) {
        free_matrix(img->z, 1, img->naxes[2], 1, img->naxes[1]);
        img->z = nullptr;
    }
}

void delete_derivs(derivs *node)
{
    while (node) {
        derivs *next = node->next;
        delete node;
        node = next;
    }
}
