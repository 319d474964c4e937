// Float-to-integer truncation with a defined result for every input, for every module that
// turns music-driven floats into integers (the ray grid, the timeline's fade amounts).
#pragma once

#include <cmath>
#include <cstdint>

// Truncates toward zero. NaN, infinities and values outside the int32 range give INT32_MIN, as
// the x86 conversion instruction does; a plain cast would be undefined behaviour for them.
constexpr std::int32_t trunc_i32(double x) {
    if (!(x > -2147483649.0 && x < 2147483648.0)) return INT32_MIN;
    return static_cast<std::int32_t>(x);
}
