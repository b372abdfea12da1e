// Direct O(N^2) sums in long double: the independent truth for the FFT tests.
#ifndef TESTS_NUMERICS_FFT_REFERENCE_H
#define TESTS_NUMERICS_FFT_REFERENCE_H

#include <cmath>
#include <complex>
#include <random>
#include <vector>

namespace fftref {

using cld = std::complex<long double>;

inline long double pi()
{
    return 3.141592653589793238462643383279502884L;
}

// X[k] = sum_j x[j] exp(sgn*2*pi*i*j*k/n), sgn = +1 or -1.
inline std::vector<cld> dft(const std::vector<cld> &x, int sgn)
{
    const size_t n = x.size();
    std::vector<cld> root(n);
    for (size_t m = 0; m < n; m++) {
        long double ph = sgn * 2 * pi() * static_cast<long double>(m) / n;
        root[m] = cld(std::cos(ph), std::sin(ph));
    }
    std::vector<cld> X(n);
    for (size_t k = 0; k < n; k++) {
        cld s = 0;
        for (size_t j = 0; j < n; j++)
            s += x[j] * root[(j * k) % n];
        X[k] = s;
    }
    return X;
}

// Two-dimensional: x[j1*n2c + j2], rows of n2c complex points.
inline std::vector<cld> dft2(const std::vector<cld> &x, size_t n1, size_t n2c, int sgn)
{
    std::vector<cld> y(x.size());
    for (size_t i = 0; i < n1; i++) {
        std::vector<cld> row(x.begin() + i * n2c, x.begin() + (i + 1) * n2c);
        row = dft(row, sgn);
        for (size_t j = 0; j < n2c; j++)
            y[i * n2c + j] = row[j];
    }
    for (size_t j = 0; j < n2c; j++) {
        std::vector<cld> col(n1);
        for (size_t i = 0; i < n1; i++)
            col[i] = y[i * n2c + j];
        col = dft(col, sgn);
        for (size_t i = 0; i < n1; i++)
            y[i * n2c + j] = col[i];
    }
    return y;
}

inline std::vector<double> random_doubles(size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<double> v(n);
    for (auto &x : v)
        x = u(gen);
    return v;
}

} // namespace fftref

#endif
