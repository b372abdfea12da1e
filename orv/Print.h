// Text output of shapes and arrays, in the stream's current number format.
#ifndef ORV_PRINT_H
#define ORV_PRINT_H

#include <ostream>

#include "orv/Shape.h"

namespace orv {

template <class T, int N>
class MArray;

// "( l1 x l2 ) : (b1,e1) (b2,e2) "
template <int N>
std::ostream &operator<<(std::ostream &os, const Shape<N> &s)
{
    os << "( ";
    for (int d = 0; d < N; ++d) {
        if (d > 0)
            os << " x ";
        os << s.length[d];
    }
    os << " ) : ";
    for (int d = 0; d < N; ++d)
        os << "(" << s.base[d] << "," << s.lastIndex(d) << ") ";
    return os;
}

template <class T>
std::ostream &operator<<(std::ostream &os, const MArray<T, 1> &a)
{
    os << "MArray<T,1> " << *a.shape() << std::endl << "[ ";
    for (int i = a.firstIndex(1); i <= a.lastIndex(1); ++i)
        os << a(i) << " ";
    return os << "]";
}

// One bracketed line per index of dimension 2, dimension 1 along the line.
template <class T>
std::ostream &operator<<(std::ostream &os, const MArray<T, 2> &a)
{
    os << "MArray<T,2> " << *a.shape() << std::endl << "[";
    for (int j = a.firstIndex(2); j <= a.lastIndex(2); ++j) {
        os << "[ ";
        for (int i = a.firstIndex(1); i <= a.lastIndex(1); ++i)
            os << a(i, j) << " ";
        os << "]";
        if (j != a.lastIndex(2))
            os << std::endl << " ";
    }
    return os << "]";
}

} // namespace orv

#endif
