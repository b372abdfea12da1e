// Index intervals with a step, used to take subarrays and slices.
#ifndef ORV_RANGE_H
#define ORV_RANGE_H

#include <climits>

namespace orv {

// Fills the unused trailing argument positions of MArray::slicearray.
struct NoArgument {};

class Range {
public:
    // INT_MIN as first or last stands for the bound of the dimension the range
    // is applied to.
    static constexpr int unset = INT_MIN;

    // The whole dimension.
    Range() : first(unset), last(unset), stride(1), length(1) {}
    Range(int first_, int last_, int stride_ = 1)
        : first(first_), last(last_), stride(stride_), length(lengthOf(first_, last_, stride_))
    {
    }

    static Range all() { return Range(); }

    int first;
    int last;
    int stride;
    // Count of indices for explicit bounds; the view operations work the real
    // length out from the dimension itself.
    int length;

private:
    static int lengthOf(int f, int l, int s)
    {
        if (s == 0 || f == unset || l == unset)
            return 1;
        long long n = (static_cast<long long>(l) - f) / s + 1;
        return n < 0 ? 0 : static_cast<int>(n);
    }
};

} // namespace orv

#endif
