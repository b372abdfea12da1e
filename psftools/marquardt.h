// Levenberg-Marquardt fit of a model z = f(x, y; a) to points (x, y, z) with
// errors sig. A subclass supplies the model and its derivatives in funcs;
// Class_gauss_fit and Class_moffat_fit (fit_models.h) are the two at hand.
//
//   Class_gauss_fit fit(x, y, z, sig, start, flags);
//   fit.maxiter = 1000;
//   int status = fit.calc();   // then read a, sa, chisq, rms, rms_dof, dof
//
// Points with sig <= 0 (or NaN) are left out. Parameters have indices 1..ma
// with a non-zero flag in ia for each one to be fitted. The standard errors sa
// are the square roots of the covariance diagonal, not scaled by rms_dof.
#ifndef PSFTOOLS_MARQUARDT_H
#define PSFTOOLS_MARQUARDT_H

#include <vector>

#include "orv/MArray.h"
#include "psftools/random.h"

class marquardt {
public:
    // x, y, z and sig should cover the index range of z; a and ia start at
    // index 1 and a's last index is the number of parameters. All are copied.
    // Otherwise a message on standard error, and only the points all four
    // lists hold are used; a parameter or flag its list lacks is 0 (fixed).
    marquardt(const orv::MArray<double, 1> &x, const orv::MArray<double, 1> &y,
              const orv::MArray<double, 1> &z, const orv::MArray<double, 1> &sig,
              const orv::MArray<double, 1> &a, const orv::MArray<int, 1> &ia);
    virtual ~marquardt();

    // The model value f at (x, y) for the parameters a, and its derivatives
    // d(k) = df/da(k), k = 1..ma. Returns 0, or -1 when the model cannot be
    // evaluated there (which stops the chi² sum).
    virtual int funcs(double x, double y, const orv::MArray<double, 1> &a, double &f,
                      orv::MArray<double, 1> &d) = 0;

    // chi² of the parameters p into chisq, with the curvature matrix of the
    // free parameters into c(1..mfit, 1..mfit) and the gradient into b.
    // Returns 0, or -1 when funcs failed.
    int mrqcof(orv::MArray<double, 1> &p, orv::MArray<double, 2> &c, orv::MArray<double, 1> &b);

    // One damped step: starts the fit when alamda < 0, and with alamda == 0
    // solves undamped and leaves the covariance of all parameters in covar.
    // Returns 0 (step accepted or rejected), -1 (funcs failed at the start),
    // -2 (singular matrix; the step counts as rejected) or -3 (funcs failed at
    // the trial parameters; rejected).
    int mrqmin();

    // Fits from the current a. Returns 0 when the damping rule stopped the
    // fit, 1 when the iteration limit was passed (results still set), -1 when
    // the model cannot be evaluated at the start values (a unchanged, chisq
    // and the rms values NaN) or the final covariance is singular (a keeps
    // the fitted values, chisq and the rms values refer to them, but sa and
    // covar are 0). Messages on standard error only when verbose > 0.
    int calc();

    // Spreads the covariance of the free parameters, packed into the top-left
    // mfit x mfit block, to the rows and columns of those parameters; fixed
    // parameters get zero rows and columns. Returns 0.
    int cov_srt(orv::MArray<double, 2> &c);

    // The model at (x, y) for the parameters p plus Gaussian noise of
    // standard deviation s from the member generator; 0 when funcs fails.
    double mcs(double x, double y, double s, const orv::MArray<double, 1> &p);

    // Tables on standard output: headings "a( k)", then a, ia and sa as
    // 15-character columns; print_result lists "a k = value  +/- error".
    void print_title();
    void print_a();
    void print_ia();
    void print_sa();
    void print_result();
    // One line "a(k) sa(k)" per parameter into the named file (truncated).
    // A file that cannot be opened or written is named on standard error
    // ("error: cannot open file <name> for writing", "error: cannot write
    // file <name>").
    void write_result(const char *fileName);

    int first;   // first data index
    int last;    // last data index
    int ndata;   // number of data values
    int npoints; // number of points with sig > 0
    int ma;      // number of parameters
    orv::MArray<double, 1> x;
    orv::MArray<double, 1> y;
    orv::MArray<double, 1> z;
    orv::MArray<double, 1> sig;
    int mfit;                     // number of free parameters
    double ochisq;                // chi² of the accepted parameters
    orv::MArray<double, 2> alpha; // curvature matrix of the accepted parameters
    orv::MArray<double, 2> covar; // damped curvature, then the covariance
    orv::MArray<double, 1> atry;  // trial parameters
    orv::MArray<double, 1> beta;  // gradient
    orv::MArray<double, 1> da;    // parameter step
    int dof;                      // points minus free parameters, set by calc
    int maxiter;                  // iteration limit of calc
    int verbose;
    int iterations;            // steps taken by the last calc
    double factor;             // multiplier of the damping value
    double chisq;              // chi² of the last evaluation
    double alamda;             // damping; < 0 before the start, 0 for the final step
    double rms;                // sqrt(chisq / npoints)
    double rms_dof;            // sqrt(chisq / dof)
    orv::MArray<double, 1> a;  // the parameters; the result after calc
    orv::MArray<int, 1> ia;    // fit flags, non-zero = free
    orv::MArray<double, 1> sa; // standard errors, set by calc
    C_rangau noise;            // deviates for mcs

private:
    // Work space of mrqcof, sized once for ma parameters: the derivatives of
    // one point, the indices of the free parameters and their derivatives.
    orv::MArray<double, 1> dyda_;
    std::vector<int> free_;
    std::vector<double> dfree_;
};

#endif
