// Split-radix FFT family: complex, real, cosine and sine transforms of
// power-of-two lengths, in one and two dimensions.
//
// Conventions shared by every routine here:
// - The transforms are not normalised.  A complex transform with isgn >= 0
//   uses exp(+2*pi*i*j*k/n), one with isgn < 0 uses exp(-2*pi*i*j*k/n).
// - Complex data are interleaved pairs (real part at even index, imaginary
//   part at odd index); a length n counts doubles, so n/2 complex points.
// - Tables: ip (int, 0-based) and w (double, 0-based) belong to the caller
//   and are handed to every call.  ip[0] is the size nw of the cos/sin table
//   in w[0..nw-1], ip[1] the size of the cosine table behind it (from w[nw]
//   on), ip[2..] the bit-reversal seeds.  Set ip[0] = 0 (and ip[1] = 0)
//   before the first call; the routines build the tables when a transform
//   needs longer ones than ip[0] and ip[1] say, and otherwise reuse them, so
//   tables built for one length serve every shorter one.
// - Table sizes: a routine needs a cos/sin table of nw entries and perhaps a
//   cosine table of nc entries: cdft nw = n/4; rdft nw = nc = n/4; ddct and
//   ddst nw = n/4, nc = n; dfct and dfst nw = n/8, nc = n/2; cdft2d
//   nw = max(2*n1, n2)/4; rdft2d the same nw and nc = n2/4; ddct2d and ddst2d
//   nw = max(n1, n2)/4, nc = max(n1, n2).  w then needs nw + nc doubles and
//   ip needs 2 + sqrt(nw) entries (for the longest length to be used).
// - Every routine takes, after its usual arguments, the number of entries the
//   caller allocated for ip and w (and for t where there is a work area).  A
//   routine given these refuses, through nrerror, a table or work area that
//   is too short for the transform instead of writing past its end; a size
//   of -1 (the default) means "not stated" and is not checked.  Lengths that
//   are not powers of two, and ip[0] or ip[1] that do not describe a table,
//   are always refused through nrerror.
#ifndef NUMERICS_FFTSG_H
#define NUMERICS_FFTSG_H

// Builds the cos/sin table of nw entries (nw = 0 or a power of two) and the
// bit-reversal seeds; sets ip[0] = nw and ip[1] = 1.
void makewt(int nw, int *ip, double *w);

// Builds the cosine table of nc entries in c (nc = 0 or a power of two);
// sets ip[1] = nc.  The transforms place it at c = w + ip[0].
void makect(int nc, int *ip, double *c);

// Complex transform of n doubles (n/2 complex points) in place; n >= 2.
void cdft(int n, int isgn, double *a, int *ip, double *w, long ipsize = -1, long wsize = -1);

// Real transform of a[0..n-1], n >= 2.  isgn >= 0: a[2k] = R[k],
// a[2k+1] = I[k] (0 < k < n/2), a[0] = R[0], a[1] = R[n/2], with
// R[k] + i*I[k] = sum_j a[j]*exp(+2*pi*i*j*k/n).  isgn < 0 takes that layout
// back; forward then backward multiplies the data by n/2.
void rdft(int n, int isgn, double *a, int *ip, double *w, long ipsize = -1, long wsize = -1);

// Cosine transform of a[0..n-1].  isgn < 0: C[k] = sum_j a[j]*cos(pi*(j+1/2)*k/n);
// isgn >= 0: C[k] = sum_j a[j]*cos(pi*j*(k+1/2)/n).  a[k] = C[k].
void ddct(int n, int isgn, double *a, int *ip, double *w, long ipsize = -1, long wsize = -1);

// Sine transform of a[0..n-1].  isgn < 0: S[k] = sum_j a[j]*sin(pi*(j+1/2)*k/n),
// 0 < k <= n, with a[k] = S[k] for 0 < k < n and a[0] = S[n].  isgn >= 0:
// with A[j] = a[j] (0 < j < n) and A[n] = a[0],
// S[k] = sum_{j=1..n} A[j]*sin(pi*j*(k+1/2)/n), a[k] = S[k].
void ddst(int n, int isgn, double *a, int *ip, double *w, long ipsize = -1, long wsize = -1);

// Cosine transform of the n + 1 points a[0..n]:
// C[k] = sum_{j=0..n} a[j]*cos(pi*j*k/n), a[k] = C[k]; t holds n/2 + 1 doubles.
void dfct(int n, double *a, double *t, int *ip, double *w, long ipsize = -1, long wsize = -1,
          long tsize = -1);

// Sine transform of a[0..n-1]: S[k] = sum_{j=1..n-1} a[j]*sin(pi*j*k/n),
// a[k] = S[k] (0 < k < n), a[0] = 0; t holds n/2 doubles.
void dfst(int n, double *a, double *t, int *ip, double *w, long ipsize = -1, long wsize = -1,
          long tsize = -1);

// Two-dimensional complex transform of a[0..n1-1][0..n2-1] (n1 rows of n2/2
// complex points): every row, then every column.  t is the column work area
// (8*n1 doubles if n2 > 4, 4*n1 if n2 = 4, 2*n1 if n2 = 2) or null, in which
// case it is allocated here.  Forward then backward multiplies by n1*n2/2.
void cdft2d(int n1, int n2, int isgn, double **a, double *t, int *ip, double *w, long ipsize = -1,
            long wsize = -1, long tsize = -1);

// Two-dimensional real transform of a[0..n1-1][0..n2-1], packed in place
// (see rdft2dsort for the unpacked layout); t as for cdft2d.  Forward then
// backward multiplies by n1*n2/2.
void rdft2d(int n1, int n2, int isgn, double **a, double *t, int *ip, double *w, long ipsize = -1,
            long wsize = -1, long tsize = -1);

// Rearranges between the packed layout of rdft2d and rows of n2/2 + 1
// complex values in a[k1][0..n2+1] (a needs n2 + 2 columns): isgn >= 0 after
// a forward rdft2d, isgn < 0 before a backward one.
void rdft2dsort(int n1, int n2, int isgn, double **a);

// The transform X of real data as cdft2d (isgn >= 0) gives it for the same
// values as real parts with imaginary parts 0, in about half its time.  On
// entry a[i][0..n2-1] holds the n2 real values of row i for every row that
// live marks (live[i] != 0; live null: every row); the other rows count as 0
// and are not read.  On return a[k1][2*k2] and a[k1][2*k2+1] hold the real
// and imaginary part of X[k1][k2] for k2 = 0..n2/2 (a needs n2 + 2
// columns), or for k2 = 0..n2-1 when full is not 0 (a needs 2*n2
// columns).  t, ip, w as for rdft2d.
void rdft2d_spectrum(int n1, int n2, double **a, const char *live, int full, double *t, int *ip,
                     double *w, long ipsize = -1, long wsize = -1, long tsize = -1);

// Circular convolution of real data by transforms: the real n1 x n2 array
// whose rows 0..nrows-1 are a[i][0..n2-1] and whose other rows are 0 (they
// are neither read nor written) is transformed forward as by
// rdft2d_spectrum, multiplied point by point by h (n1 rows holding
// X[k1][k2] for k2 = 0..n2/2 as rdft2d_spectrum lays them out; a full
// spectrum serves as well) and transformed back with exp(-...).  Rows
// 0..nrows-1 receive the result, not normalised: when h is the transform
// of a real kernel divided by n1*n2, it is the convolution with that kernel.
// The transforms are pruned: rows known to be 0 or not wanted are not
// transformed, and the product is taken column block by column block while
// the columns are in the work area.  t, ip, w as for rdft2d.
void rdft2d_convolve(int n1, int n2, double **a, int nrows, double *const *h, double *t, int *ip,
                     double *w, long ipsize = -1, long wsize = -1, long tsize = -1);

// Two-dimensional cosine and sine transforms: ddct/ddst of length n2 on
// every row, then of length n1 on every column.  t: 4*n1 doubles if n2 > 2,
// 2*n1 if n2 = 2, n1 if n2 = 1, or null.
void ddct2d(int n1, int n2, int isgn, double **a, double *t, int *ip, double *w, long ipsize = -1,
            long wsize = -1, long tsize = -1);
void ddst2d(int n1, int n2, int isgn, double **a, double *t, int *ip, double *w, long ipsize = -1,
            long wsize = -1, long tsize = -1);

#endif
