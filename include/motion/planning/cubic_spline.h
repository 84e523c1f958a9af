#pragma once

#include <cstdint>
#include <vector>

// End conditions of CubicSpline::setPoints.
constexpr int32_t kSplineClamped = 0;  // d0, dn are end slopes
constexpr int32_t kSplineSecondDerivative = 1;  // d0, dn are end second derivatives

// Interpolating cubic spline through knots (x strictly increasing).
class CubicSpline {
 public:
  CubicSpline() {}
  ~CubicSpline() { release(); }

  // 1 on success; 0 when refused (fewer than 3 knots, missing arrays, an
  // unknown type, values that are not finite or x not strictly increasing),
  // leaving the spline as it was.
  int setPoints(const double* x, const double* y, int32_t n, int32_t type, double d0, double dn);
  // Solves for the knot second derivatives; 0 for an unknown type.
  int solve(int32_t type);
  // Past the last knot: the last value with finished 1. An empty spline gives
  // NaN, which no consumer can mistake for a position.
  double evalEnd(int* finished, double t) const;
  double eval(double t) const;
  int evalTo(double t, double* out) const;
  void reset();
  void release();

  int32_t size() const { return n_; }
  const std::vector<double>& secondDerivatives() const { return m_; }

 private:
  double evalAt(double t) const;

  std::vector<double> x_;
  std::vector<double> y_;
  std::vector<double> m_;
  int32_t n_ = 0;
  double d0_ = 0.0;
  double dn_ = 0.0;
};
