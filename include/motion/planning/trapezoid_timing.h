#pragma once

// Segment durations and distances of one trapezoidal profile. Shared so that
// every axis of a move can be re-timed to one common timing.
struct TrapezoidTiming {
  double Vv = 0.0;    // cruise velocity, signed like the motion
  double Ta = 0.0;    // acceleration segment duration
  double Sa = 0.0;    // distance while accelerating
  double Td = 0.0;    // deceleration segment duration
  double Sd = 0.0;    // distance while decelerating
  double Tv = 0.0;    // cruise duration
  double Sv = 0.0;    // distance while cruising
  double aa = 0.0;    // acceleration of the first segment
  double ad = 0.0;    // acceleration of the last segment
  double Tall = 0.0;  // total duration
};
