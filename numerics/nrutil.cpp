#include "nrutil.h"

#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void print_and_exit(const char *error_text)
{
    fprintf(stderr, "Numerical Recipes run-time error...\n%s\n...now exiting to system...\n",
            error_text);
    exit(100);
}

fatal_handler handler = print_and_exit;

} // namespace

fatal_handler set_fatal_handler(fatal_handler h)
{
    fatal_handler before = handler;
    handler = h ? h : print_and_exit;
    return before;
}

void nrerror(const char error_text[])
{
    handler(error_text);
    exit(100);
}

namespace {

// Number of elements for the inclusive range lo..hi plus the spare element
// ahead of it; 0 when the range is reversed or the byte size would not fit.
template <typename T>
size_t block_count(long lo, long hi)
{
    if (hi < lo - 1)
        return 0;
    unsigned long n = static_cast<unsigned long>(hi - lo) + 2;
    if (n > static_cast<unsigned long>(-1) / sizeof(T))
        return 0;
    return n;
}

// n elements (n >= 1), or 0 on overflow, for a block of nrow * ncol + 1.
template <typename T>
size_t grid_count(long nrow, long ncol)
{
    if (nrow < 0 || ncol < 0)
        return 0;
    unsigned long r = static_cast<unsigned long>(nrow);
    unsigned long c = static_cast<unsigned long>(ncol);
    unsigned long limit = static_cast<unsigned long>(-1) / sizeof(T) - 1;
    if (c != 0 && r > limit / c)
        return 0;
    return r * c + 1;
}

// Pointer blocks keep at least two slots, so that an empty range still has
// the slot that holds the first row (and the release routine can find the
// data block through it); 0 (an overflow) stays 0.
size_t pointer_slots(size_t n)
{
    return n == 1 ? 2 : n;
}

template <typename T>
size_t pointer_count(long lo, long hi)
{
    return pointer_slots(block_count<T>(lo, hi));
}

template <typename T>
T *alloc_block(size_t n, const char *failure)
{
    T *p = n ? static_cast<T *>(malloc(n * sizeof(T))) : nullptr;
    if (!p)
        nrerror(failure);
    return p;
}

template <typename T>
T *new_vector(long nl, long nh, const char *failure)
{
    T *v = alloc_block<T>(block_count<T>(nl, nh), failure);
    return v + 1 - nl;
}

template <typename T>
T **new_matrix(long nrl, long nrh, long ncl, long nch)
{
    long nrow = nrh - nrl + 1, ncol = nch - ncl + 1;
    T **m = alloc_block<T *>(pointer_count<T *>(nrl, nrh), "allocation failure 1 in matrix()");
    m += 1 - nrl;
    T *data = alloc_block<T>(grid_count<T>(nrow, ncol), "allocation failure 2 in matrix()");
    m[nrl] = data + 1 - ncl;
    for (long i = nrl + 1; i <= nrh; i++)
        m[i] = m[i - 1] + ncol;
    return m;
}

template <typename T>
void release_matrix(T **m, long nrl, long ncl)
{
    free(m[nrl] + ncl - 1);
    free(m + nrl - 1);
}

} // namespace

float *vector(long nl, long nh)
{
    return new_vector<float>(nl, nh, "allocation failure in vector()");
}

double *dvector(long nl, long nh)
{
    return new_vector<double>(nl, nh, "allocation failure in dvector()");
}

int *ivector(long nl, long nh)
{
    return new_vector<int>(nl, nh, "allocation failure in ivector()");
}

unsigned long *lvector(long nl, long nh)
{
    return new_vector<unsigned long>(nl, nh, "allocation failure in lvector()");
}

unsigned char *cvector(long nl, long nh)
{
    return new_vector<unsigned char>(nl, nh, "allocation failure in cvector()");
}

float **matrix(long nrl, long nrh, long ncl, long nch)
{
    return new_matrix<float>(nrl, nrh, ncl, nch);
}

double **dmatrix(long nrl, long nrh, long ncl, long nch)
{
    return new_matrix<double>(nrl, nrh, ncl, nch);
}

int **imatrix(long nrl, long nrh, long ncl, long nch)
{
    return new_matrix<int>(nrl, nrh, ncl, nch);
}

float ***f3tensor(long nrl, long nrh, long ncl, long nch, long ndl, long ndh)
{
    long nrow = nrh - nrl + 1, ncol = nch - ncl + 1, ndep = ndh - ndl + 1;

    float ***t = alloc_block<float **>(pointer_count<float **>(nrl, nrh),
                                       "allocation failure 1 in f3tensor()");
    t += 1 - nrl;

    float **cols = alloc_block<float *>(pointer_slots(grid_count<float *>(nrow, ncol)),
                                        "allocation failure 2 in f3tensor()");
    t[nrl] = cols + 1 - ncl;

    // nrow * ncol * ndep + 1 elements, checked in two steps against overflow.
    size_t plane = grid_count<float>(nrow, ncol);
    size_t ndata = plane ? grid_count<float>(static_cast<long>(plane - 1), ndep) : 0;
    float *data = alloc_block<float>(ndata, "allocation failure 3 in f3tensor()");
    t[nrl][ncl] = data + 1 - ndl;

    for (long j = ncl + 1; j <= nch; j++)
        t[nrl][j] = t[nrl][j - 1] + ndep;
    for (long i = nrl + 1; i <= nrh; i++) {
        t[i] = t[i - 1] + ncol;
        t[i][ncl] = t[i - 1][ncl] + ncol * ndep;
        for (long j = ncl + 1; j <= nch; j++)
            t[i][j] = t[i][j - 1] + ndep;
    }
    return t;
}

double sum_matrix(float **m, long nrh, long nch)
{
    double sum = 0;
    for (long r = 1; r <= nrh; r++)
        for (long c = 1; c <= nch; c++)
            sum += m[r][c];
    return sum;
}

float **convert_matrix(float *a, long nrl, long nrh, long ncl, long nch)
{
    long nrow = nrh - nrl + 1, ncol = nch - ncl + 1;
    float **m = alloc_block<float *>(block_count<float *>(nrl, nrh),
                                     "allocation failure in convert_matrix()");
    m += 1 - nrl;
    if (nrow > 0)
        m[nrl] = a - ncl;
    for (long i = nrl + 1; i <= nrh; i++)
        m[i] = m[i - 1] + ncol;
    return m;
}

float **submatrix(float **a, long oldrl, long oldrh, long oldcl, long /*oldch*/, long newrl,
                  long newcl)
{
    long shift = oldcl - newcl;
    float **m = alloc_block<float *>(block_count<float *>(oldrl, oldrh),
                                     "allocation failure in submatrix()");
    m += 1 - newrl;
    for (long i = oldrl, j = newrl; i <= oldrh; i++, j++)
        m[j] = a[i] + shift;
    return m;
}

void free_vector(float *v, long nl, long /*nh*/)
{
    free(v + nl - 1);
}
void free_dvector(double *v, long nl, long /*nh*/)
{
    free(v + nl - 1);
}
void free_ivector(int *v, long nl, long /*nh*/)
{
    free(v + nl - 1);
}
void free_lvector(unsigned long *v, long nl, long /*nh*/)
{
    free(v + nl - 1);
}
void free_cvector(unsigned char *v, long nl, long /*nh*/)
{
    free(v + nl - 1);
}

void free_matrix(float **m, long nrl, long /*nrh*/, long ncl, long /*nch*/)
{
    release_matrix(m, nrl, ncl);
}

void free_dmatrix(double **m, long nrl, long /*nrh*/, long ncl, long /*nch*/)
{
    release_matrix(m, nrl, ncl);
}

void free_imatrix(int **m, long nrl, long /*nrh*/, long ncl, long /*nch*/)
{
    release_matrix(m, nrl, ncl);
}

void free_f3tensor(float ***t, long nrl, long /*nrh*/, long ncl, long /*nch*/, long ndl,
                   long /*ndh*/)
{
    free(t[nrl][ncl] + ndl - 1);
    free(t[nrl] + ncl - 1);
    free(t + nrl - 1);
}

void free_convert_matrix(float **b, long nrl, long /*nrh*/, long /*ncl*/, long /*nch*/)
{
    free(b + nrl - 1);
}

void free_submatrix(float **b, long nrl, long /*nrh*/, long /*ncl*/, long /*nch*/)
{
    free(b + nrl - 1);
}
