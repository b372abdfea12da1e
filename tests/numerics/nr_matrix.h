// The 1-based matrices of the numerics library as objects that free themselves.
#ifndef TESTS_NUMERICS_NR_MATRIX_H
#define TESTS_NUMERICS_NR_MATRIX_H

#include "numerics/nrutil.h"

namespace nrtest {

// A rows x cols matrix, rows and columns from 1, made by Make and freed by Free.
template <class T, T **(*Make)(long, long, long, long), void (*Free)(T **, long, long, long, long)>
struct NrMatrix {
    int n, m;
    T **a;
    NrMatrix(int rows, int cols) : n(rows), m(cols) { a = Make(1, n, 1, m); }
    ~NrMatrix() { Free(a, 1, n, 1, m); }
    NrMatrix(const NrMatrix &) = delete;
    NrMatrix &operator=(const NrMatrix &) = delete;
    T *operator[](int i) { return a[i]; }
};

using DMat = NrMatrix<double, dmatrix, free_dmatrix>;
using FMat = NrMatrix<float, matrix, free_matrix>;

} // namespace nrtest

#endif
