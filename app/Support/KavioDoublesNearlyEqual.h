#pragma once

#include <cmath>

// True when |a - b| <= epsilon; false whenever a NaN is involved.
inline bool KavioDoublesNearlyEqual(double a, double b, double epsilon)
{
    return std::fabs(a - b) <= epsilon;
}
