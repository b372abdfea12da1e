// Building blocks of the split-radix FFT family, shared by the one- and
// two-dimensional routines.  Nothing here checks its arguments: the public
// routines of fftsg.h do that before they call in.
#ifndef NUMERICS_FFTSG_CORE_H
#define NUMERICS_FFTSG_CORE_H

namespace fftcore {

// Complex transform of n doubles with the cos/sin table w[0..nw-1]:
// exp(+...) in cftfsub, exp(-...) in cftbsub; natural order in and out.
void cftfsub(int n, double *a, const int *ip, int nw, const double *w);
void cftbsub(int n, double *a, const int *ip, int nw, const double *w);

// The same on V sequences at once (V = 2 or 4): point k of lane c has its
// real part at a[2Vk + c] and its imaginary part at a[2Vk + V + c]; n counts
// the doubles of one lane.  Each lane gets exactly the numbers cftfsub or
// cftbsub would give it.
template <int V>
void cftfsubv(int n, double *a, const int *ip, int nw, const double *w);
template <int V>
void cftbsubv(int n, double *a, const int *ip, int nw, const double *w);
template <>
void cftfsubv<4>(int n, double *a, const int *ip, int nw, const double *w);
template <>
void cftbsubv<4>(int n, double *a, const int *ip, int nw, const double *w);

// True when four lanes run in one vector register (the AVX2 build of the
// kernels, on a processor that has AVX2); otherwise two lanes are faster.
bool four_lanes_fast();

// With false, the passes use two lanes even where four would be faster, so
// that tests can check both on one processor.
void allow_four_lanes(bool allow);

// The AVX2 build of the four-lane kernels (fftsg_avx2.cpp), built only on
// x86-64 (FFTSG_AVX2); call them only when four_lanes_fast() says so.
void cftfsub4_avx2(int n, double *a, const int *ip, int nw, const double *w);
void cftbsub4_avx2(int n, double *a, const int *ip, int nw, const double *w);
void rftfsub4_avx2(int n, double *a, int nc, const double *c);
void rftbsub4_avx2(int n, double *a, int nc, const double *c);

// Real-data post-processing after a forward complex transform of n doubles
// (rftfsub) and its inverse before a backward one (rftbsub), with the cosine
// table c[0..nc-1], nc >= n/4.
void rftfsub(int n, double *a, int nc, const double *c);
void rftbsub(int n, double *a, int nc, const double *c);

// The same on V sequences at once, laid out as for cftfsubv.
template <int V>
void rftfsubv(int n, double *a, int nc, const double *c);
template <int V>
void rftbsubv(int n, double *a, int nc, const double *c);
template <>
void rftfsubv<4>(int n, double *a, int nc, const double *c);
template <>
void rftbsubv<4>(int n, double *a, int nc, const double *c);

// The real transform (rdft) on the tables at hand.
void rdftsub(int n, int isgn, double *a, const int *ip, int nw, const double *w, int nc,
             const double *c);

// Cosine transforms of n points (n >= 1, nc >= n): dct3 is ddct with
// isgn >= 0, dct2 is ddct with isgn < 0.  Likewise for the sine transforms.
void dct3(int n, double *a, const int *ip, int nw, const double *w, int nc, const double *c);
void dct2(int n, double *a, const int *ip, int nw, const double *w, int nc, const double *c);
void dst3(int n, double *a, const int *ip, int nw, const double *w, int nc, const double *c);
void dst2(int n, double *a, const int *ip, int nw, const double *w, int nc, const double *c);

// The tables a routine works with, after prepare() has built what was short.
struct Tables {
    int nw;          // entries of the cos/sin table
    int nc;          // entries of the cosine table, at w + nw
    const double *c; // w + nw
};

// ddct (sine = false) or ddst (sine = true) on the tables at hand.
void ddxtsub(bool sine, int n, int isgn, double *a, const int *ip, const double *w,
             const Tables &tb);

// Validates ip[0] and ip[1], rebuilds the cos/sin table with nwlen/nwmul
// entries when nwlen > nwmul*ip[0] and the cosine table with nclen/ncmul
// entries when nclen > ncmul*ip[1] (nclen = 0: no cosine table is used), and
// checks the tables against the caller's sizes (-1: not stated).  Every
// failure ends the process through nrerror with a text that names the routine.
Tables prepare(const char *who, int *ip, double *w, long nwlen, long nwmul, long nclen, long ncmul,
               long ipsize, long wsize);

// Refuses (through nrerror) a length that is not a power of two of at least
// min, and a null pointer among the arrays.
void check_length(const char *who, const char *what, long n, long min);
void check_pointer(const char *who, const char *what, const void *p);

// Refuses a caller's work area shorter than need (size -1: not stated).
void check_work(const char *who, long need, long tsize);

// Entries of ip that makewt(nw) fills.
long ip_entries(long nw);

bool is_pow2(long n);

} // namespace fftcore

#endif
