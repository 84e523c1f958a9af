#include "motion/planning/cubic_spline.h"

#include <cmath>
#include <limits>

int CubicSpline::setPoints(const double* x, const double* y, int32_t n, int32_t type, double d0,
                           double dn) {
  if (x == nullptr || y == nullptr || n < 3) return 0;
  if (type != kSplineClamped && type != kSplineSecondDerivative) return 0;
  if (!std::isfinite(d0) || !std::isfinite(dn)) return 0;
  for (int32_t i = 0; i < n; ++i) {
    if (!std::isfinite(x[i]) || !std::isfinite(y[i])) return 0;
    // A zero or negative interval would divide by zero in the solve.
    if (i > 0 && !(x[i] > x[i - 1])) return 0;
  }
  x_.assign(x, x + n);
  y_.assign(y, y + n);
  m_.assign(n, 0.0);
  n_ = n;
  d0_ = d0;
  dn_ = dn;
  return solve(type);
}

int CubicSpline::solve(int32_t type) {
  if (type != kSplineClamped && type != kSplineSecondDerivative) return 0;
  if (n_ < 3) return 0;
  const int32_t n = n_;
  std::vector<double> h(n, 0.0), s(n, 0.0), mu(n, 0.0), lambda(n, 0.0), r(n, 0.0), c(n, 0.0),
      e(n, 0.0);
  for (int32_t i = 0; i + 1 < n; ++i) {
    h[i] = x_[i + 1] - x_[i];
    s[i] = (y_[i + 1] - y_[i]) / h[i];
  }
  for (int32_t i = 1; i <= n - 2; ++i) {
    const double span = h[i - 1] + h[i];
    mu[i] = h[i - 1] / span;
    lambda[i] = h[i] / span;
    r[i] = 6.0 * (s[i] - s[i - 1]) / span;
  }

  if (type == kSplineClamped) {
    lambda[0] = 1.0;
    r[0] = 6.0 * (s[0] - d0_) / h[0];
    mu[n - 1] = 1.0;
    r[n - 1] = 6.0 * (dn_ - s[n - 2]) / h[n - 2];
    c[0] = lambda[0] / 2.0;
    e[0] = r[0] / 2.0;
    for (int32_t i = 1; i <= n - 1; ++i) {
      const double den = 2.0 - mu[i] * c[i - 1];
      if (i <= n - 2) c[i] = lambda[i] / den;
      e[i] = (r[i] - mu[i] * e[i - 1]) / den;
    }
    m_[n - 1] = e[n - 1];
    for (int32_t i = n - 2; i >= 0; --i) m_[i] = e[i] - c[i] * m_[i + 1];
    return 1;
  }

  // Second derivatives fixed at both ends: solve the interior rows only.
  r[1] -= mu[1] * d0_;
  r[n - 2] -= lambda[n - 2] * dn_;
  c[1] = lambda[1] / 2.0;
  e[1] = r[1] / 2.0;
  for (int32_t i = 2; i <= n - 2; ++i) {
    const double den = 2.0 - mu[i] * c[i - 1];
    if (i <= n - 3) c[i] = lambda[i] / den;
    e[i] = (r[i] - mu[i] * e[i - 1]) / den;
  }
  m_[n - 2] = e[n - 2];
  for (int32_t i = n - 3; i >= 1; --i) m_[i] = e[i] - c[i] * m_[i + 1];
  m_[0] = d0_;
  m_[n - 1] = dn_;
  return 1;
}

double CubicSpline::evalAt(double t) const {
  int32_t lo = 0;
  int32_t hi = n_ - 1;
  while (hi - lo > 1) {
    const int32_t k = (hi + lo) / 2;
    if (t < x_[k]) {
      hi = k;
    } else {
      lo = k;
    }
  }
  const double h = x_[hi] - x_[lo];
  const double a = (x_[hi] - t) / h;
  const double b = (t - x_[lo]) / h;
  return a * y_[lo] + b * y_[hi] + ((a * a * a - a) * m_[lo] + (b * b * b - b) * m_[hi]) * h * h / 6.0;
}

double CubicSpline::evalEnd(int* finished, double t) const {
  if (finished != nullptr) *finished = 0;
  if (n_ < 2) return std::numeric_limits<double>::quiet_NaN();
  if (t > x_[n_ - 1]) {
    if (finished != nullptr) *finished = 1;
    return y_[n_ - 1];
  }
  return evalAt(t);
}

double CubicSpline::eval(double t) const {
  if (n_ < 2) return std::numeric_limits<double>::quiet_NaN();
  return evalAt(t);
}

int CubicSpline::evalTo(double t, double* out) const {
  if (out != nullptr) *out = eval(t);
  return 1;
}

void CubicSpline::reset() {
  x_.clear();
  y_.clear();
  m_.clear();
  n_ = 0;
  d0_ = 0.0;
  dn_ = 0.0;
}

void CubicSpline::release() {
  std::vector<double>().swap(x_);
  std::vector<double>().swap(y_);
  std::vector<double>().swap(m_);
  reset();
}
