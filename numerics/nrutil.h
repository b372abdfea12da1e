// One-based vectors and matrices, and the fatal numerical error.
//
// Every array of torvex comes from these allocators.  A vector v from
// vector(nl, nh) is valid for v[nl]..v[nh]; a matrix m from matrix(nrl, nrh,
// ncl, nch) is valid for m[nrl..nrh][ncl..nch], and its rows lie one after the
// other in a single block, so &m[nrl][ncl] may be walked as one flat array.
// Nothing records the bounds: callers hand the same ones to the release
// routine.  A failed allocation ends the process through nrerror.
#ifndef NUMERICS_NRUTIL_H
#define NUMERICS_NRUTIL_H

// What a fatal numerical error does: the handler receives the reason and
// ends the process.  A program installs its own, to tell its user and to
// give its display back; the default prints the reason on standard error
// and exits with status 100.
using fatal_handler = void (*)(const char *error_text);

// Installs handler (null: the default) and returns the one it replaces.
fatal_handler set_fatal_handler(fatal_handler handler);

// Hands the reason to the fatal handler; should the handler return, the
// process exits with status 100 all the same.
[[noreturn]] void nrerror(const char error_text[]);

float *vector(long nl, long nh);
double *dvector(long nl, long nh);
int *ivector(long nl, long nh);
unsigned long *lvector(long nl, long nh);
unsigned char *cvector(long nl, long nh);

float **matrix(long nrl, long nrh, long ncl, long nch);
double **dmatrix(long nrl, long nrh, long ncl, long nch);
int **imatrix(long nrl, long nrh, long ncl, long nch);
float ***f3tensor(long nrl, long nrh, long ncl, long nch, long ndl, long ndh);

// The sum of m[1..nrh][1..nch], row by row in double precision.
double sum_matrix(float **m, long nrh, long nch);

// Row-pointer views; only the pointer block belongs to the view.
float **convert_matrix(float *a, long nrl, long nrh, long ncl, long nch);
float **submatrix(float **a, long oldrl, long oldrh, long oldcl, long oldch, long newrl,
                  long newcl);

void free_vector(float *v, long nl, long nh);
void free_dvector(double *v, long nl, long nh);
void free_ivector(int *v, long nl, long nh);
void free_lvector(unsigned long *v, long nl, long nh);
void free_cvector(unsigned char *v, long nl, long nh);

void free_matrix(float **m, long nrl, long nrh, long ncl, long nch);
void free_dmatrix(double **m, long nrl, long nrh, long ncl, long nch);
void free_imatrix(int **m, long nrl, long nrh, long ncl, long nch);
void free_f3tensor(float ***t, long nrl, long nrh, long ncl, long nch, long ndl, long ndh);
void free_convert_matrix(float **b, long nrl, long nrh, long ncl, long nch);
void free_submatrix(float **b, long nrl, long nrh, long ncl, long nch);

#endif
