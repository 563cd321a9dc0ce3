#pragma once

namespace kestrova::common {

// Rounds to the nearest whole number; halves go to the even neighbour (2.5 -> 2, 3.5 -> 4).
double round_half_even(double value);

// Rounds to `decimals` places with halves to even, judged on the decimal value the
// number prints as with 15 significant digits (so 0.125 -> 0.12 and 0.375 -> 0.38 at two
// places). Values with no digits beyond those places are returned as printed.
double round_half_even(double value, int decimals);

// Rounds half-to-even and converts, saturating at the limits of int.
int round_to_int(double value);

} // namespace kestrova::common
