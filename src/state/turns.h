// Angles as play uses them, with the same values on every machine.
//
// Play turns by whole degrees, converted to radians at 3.1415 to the half
// turn. Positions come from the cosine and sine of such angles and aim from
// the arc tangent of a slope; a C library's sin, cos and atan may differ from
// another's in the last bit, and a recorded run must replay alike on every
// machine. So these are worked out here, in plain double arithmetic, and
// rounded correctly: on every angle and distance play uses they give the
// very points the C library of the machines the game was first played on
// gave (checked over all angles within +-65536 degrees and distances within
// +-200000, and all slopes of two whole numbers within +-3000).
#pragma once

#include <cstdint>

// The radians of one degree as play converts them.
inline constexpr double kTurnRadians = 3.1415 / 180.0;

// cos and sin of `degrees` * kTurnRadians, correctly rounded.
double TurnCos(int32_t degrees);
double TurnSin(int32_t degrees);

// The whole degrees of the slope q: |atan(q)| * 180 / 3.1415 cut to a whole
// number (0..90), with atan correctly rounded.
int SlopeDegrees(double q);
