#include "motion/planning/trapezoid_planner.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace {
// Sampling treats the goal as reached within this distance.
constexpr double kFinishTolerance = 1e-5;

// A ramp of zero duration changes nothing; avoids 0/0 for axes at rest.
double ratioOrZero(double num, double den) { return den == 0.0 ? 0.0 : num / den; }

bool allFinite(const TrapezoidTiming& t) {
  const double v[] = {t.Vv, t.Ta, t.Sa, t.Td, t.Sd, t.Tv, t.Sv, t.aa, t.ad, t.Tall};
  for (double x : v) {
    if (!std::isfinite(x)) return false;
  }
  return true;
}

// A common timing is the ramp time x = Ta = Td and the span y = Ta + Tv.
// Re-planned to it, an axis cruises at Vv = (D - (v0 + v1) / 2 * x) / y, and
// each of its limits reads p + q*x + r*y + s*x*y >= 0.
struct TimingBound {
  double p, q, r, s;
  double at(double x, double y) const { return p + q * x + r * y + s * x * y; }
  double size(double x, double y) const {
    return std::fabs(p) + std::fabs(q * x) + std::fabs(r * y) + std::fabs(s * x * y);
  }
  // The y on this bound's boundary at x; NaN where the boundary is vertical.
  double yAt(double x) const {
    const double den = r + s * x;
    return den == 0.0 ? std::numeric_limits<double>::quiet_NaN() : -(p + q * x) / den;
  }
};

// Rounding slack when a candidate timing is checked against a bound.
constexpr double kBoundTolerance = 1e-10;

// |Vv| <= vmax, |Vv - v0| <= amax*Ta and |v1 - Vv| <= -amin*Td, each side
// as a bound. Bounds that hold for every x, y >= 0 are left out, and of bounds
// alike but for p only the strictest is kept: from rest, that leaves one
// velocity and one acceleration bound for the whole move.
void addBounds(const TrapezoidPlannerInput& in, std::vector<TimingBound>& out) {
  const double D = in.q1 - in.q0;
  const double c = (in.v0 + in.v1) / 2.0;
  for (double sg : {1.0, -1.0}) {
    const TimingBound side[] = {{-sg * D, sg * c, in.vmax, 0.0},
                                {-sg * D, sg * c, sg * in.v0, in.amax},
                                {-sg * D, sg * c, sg * in.v1, -in.amin}};
    for (TimingBound b : side) {
      if (!(b.p < 0.0 || b.q < 0.0 || b.r < 0.0)) continue;
      const double w = std::fabs(b.r) + b.s;
      b = {b.p / w, b.q / w, b.r / w, b.s / w};
      auto alike = std::find_if(out.begin(), out.end(), [&b](const TimingBound& o) {
        return o.q == b.q && o.r == b.r && o.s == b.s;
      });
      if (alike == out.end()) {
        out.push_back(b);
      } else {
        alike->p = std::min(alike->p, b.p);
      }
    }
  }
}

// Real roots of a*x^2 + b*x + c = 0, a possibly 0; returns how many.
int realRoots(double a, double b, double c, double roots[2]) {
  if (a == 0.0) {
    if (b == 0.0) return 0;
    roots[0] = -c / b;
    return 1;
  }
  double disc = b * b - 4.0 * a * c;
  if (disc < 0.0) {
    // A double root can come out slightly negative.
    if (disc < -1e-12 * (b * b + std::fabs(4.0 * a * c))) return 0;
    disc = 0.0;
  }
  const double h = -0.5 * (b + std::copysign(std::sqrt(disc), b));
  if (h == 0.0) {
    roots[0] = 0.0;
    return 1;
  }
  roots[0] = h / a;
  roots[1] = c / h;
  return 2;
}
}  // namespace

TrapezoidPlanner::TrapezoidPlanner() { sync_ = 0; }

TrapezoidPlanner::TrapezoidPlanner(uint32_t sync) { sync_ = static_cast<int32_t>(sync); }

void* TrapezoidPlanner::setInput(const void* input) {
  if (input != nullptr) input_ = *static_cast<const TrapezoidPlannerInput*>(input);
  return &input_;
}

void* TrapezoidPlanner::input() { return &input_; }

bool TrapezoidPlanner::canReachVmax(double v0, double v1, double V, double amax, double amin,
                                    double D) {
  double sa = (v0 + V) / 2.0 * std::fabs((V - v0) / amax);
  double sd = (V + v1) / 2.0 * std::fabs((v1 - V) / amin);
  return std::fabs(D) >= std::fabs(sa + sd) && D * (sa + sd) >= 0.0;
}

bool TrapezoidPlanner::canReachV1(double v0, double v1, double amax, double D) {
  double s = (v0 + v1) / 2.0 * std::fabs((v1 - v0) / amax);
  return std::fabs(D) >= std::fabs(s) && D * s >= 0.0;
}

bool TrapezoidPlanner::inputUsable() const {
  const TrapezoidPlannerInput& in = input_;
  const double values[] = {in.q0, in.q1, in.v0, in.v1, in.vmax, in.amax, in.amin};
  for (double x : values) {
    if (!std::isfinite(x)) return false;
  }
  return in.vmax > 0.0 && in.amax > 0.0 && in.amin < 0.0;
}

int TrapezoidPlanner::plan() {
  status_ = 0;
  const TrapezoidPlannerInput& in = input_;
  // A zero, negative or NaN limit (for example from a bad velocity scale)
  // must never turn into a motion.
  if (!inputUsable()) {
    printf("TrapezoidPlanner input refused: q0=%lf,q1=%lf,v0=%lf,v1=%lf,vmax=%lf,amax=%lf,amin=%lf\n",
           in.q0, in.q1, in.v0, in.v1, in.vmax, in.amax, in.amin);
    status_ = kTrapezoidBadInput;
    return kTrapezoidBadInput;
  }
  if (std::fabs(in.v0) > std::fabs(in.vmax) || std::fabs(in.v1) > std::fabs(in.vmax)) {
    puts("You set v0 over vmax, or v1 over vmax!");
    status_ = kTrapezoidOverVmax;
    return kTrapezoidOverVmax;
  }

  const double D = in.q1 - in.q0;
  TrapezoidTiming t;
  if (D == 0.0 && in.v0 == 0.0 && in.v1 == 0.0) {
    // Nothing to move: a finished profile of zero duration at q0.
    timing_ = t;
    status_ = 1;
    puts("TrapezoidPlanner::plan finish!");
    return kTrapezoidOk;
  }
  if (D > 0.0) {
    if (canReachVmax(in.v0, in.v1, in.vmax, in.amax, in.amin, D)) {
      t.Vv = in.vmax;
    } else if (canReachV1(in.v0, in.v1, in.amax, D)) {
      t.Vv = std::sqrt((2.0 * in.amax * in.amin * D - in.amax * in.v1 * in.v1 +
                        in.amin * in.v0 * in.v0) /
                       (in.amin - in.amax));
    } else {
      puts("too close to plan+...");
      status_ = kTrapezoidTooClose;
      return kTrapezoidTooClose;
    }
  } else {
    if (canReachVmax(in.v0, in.v1, -in.vmax, in.amax, in.amin, D)) {
      t.Vv = -in.vmax;
    } else if (canReachV1(in.v0, in.v1, in.amax, D)) {
      t.Vv = -std::sqrt((2.0 * in.amax * in.amin * (-D) - in.amax * in.v1 * in.v1 +
                         in.amin * in.v0 * in.v0) /
                        (in.amin - in.amax));
    } else {
      puts("too close to plan-...");
      status_ = kTrapezoidTooClose;
      return kTrapezoidTooClose;
    }
  }

  t.Ta = std::fabs((t.Vv - in.v0) / in.amax);
  t.aa = ratioOrZero(t.Vv - in.v0, t.Ta);
  t.Sa = t.Ta * (in.v0 + t.Vv) / 2.0;
  t.Td = std::fabs((in.v1 - t.Vv) / in.amin);
  t.ad = ratioOrZero(in.v1 - t.Vv, t.Td);
  t.Sd = t.Td * (t.Vv + in.v1) / 2.0;
  t.Sv = D - t.Sa - t.Sd;
  t.Tv = std::fabs(ratioOrZero(t.Sv, t.Vv));
  t.Tall = t.Ta + t.Tv + t.Td;
  if (!allFinite(t)) {
    // The square root of a negative radicand: these velocities cannot be met.
    puts(D > 0.0 ? "too close to plan+..." : "too close to plan-...");
    status_ = kTrapezoidTooClose;
    return kTrapezoidTooClose;
  }
  timing_ = t;
  status_ = 1;
  puts("TrapezoidPlanner::plan finish!");
  return kTrapezoidOk;
}

int TrapezoidPlanner::rePlan(const TrapezoidTiming& T) {
  const TrapezoidPlannerInput& in = input_;
  printf("Ta=%lf,Td=%lf,Tall=%lf,Tv=%lf;\n", T.Ta, T.Td, T.Tall, T.Tv);
  printf("q0=%lf,q1=%lf,v0=%lf,v1=%lf;\n", in.q0, in.q1, in.v0, in.v1);
  if (!std::isfinite(T.Ta) || !std::isfinite(T.Td) || !std::isfinite(T.Tv) ||
      !std::isfinite(T.Tall) || T.Ta < 0.0 || T.Td < 0.0 || T.Tv < 0.0) {
    puts("TrapezoidPlanner::rePlan refused a timing that is not finite or negative.");
    return -1;
  }
  const double span = 2.0 * T.Tv + T.Ta + T.Td;
  const double D = in.q1 - in.q0;
  TrapezoidTiming t;
  t.Vv = ratioOrZero(2.0 * D - (in.v0 * T.Ta + in.v1 * T.Td), span);
  printf("Vv=%lf;\n", t.Vv);
  // A ramp of zero duration cannot change the velocity.
  if ((T.Ta == 0.0 && t.Vv != in.v0) || (T.Td == 0.0 && t.Vv != in.v1) ||
      (span == 0.0 && D != 0.0)) {
    puts("TrapezoidPlanner::rePlan cannot move the axis in this timing.");
    return -1;
  }
  t.Ta = T.Ta;
  t.Td = T.Td;
  t.Tv = T.Tv;
  t.Tall = T.Tall;
  t.aa = ratioOrZero(t.Vv - in.v0, T.Ta);
  t.ad = ratioOrZero(in.v1 - t.Vv, T.Td);
  t.Sa = in.v0 * T.Ta + t.aa / 2.0 * T.Ta * T.Ta;
  t.Sd = t.Vv * T.Td + t.ad / 2.0 * T.Td * T.Td;
  t.Sv = t.Vv * T.Tv;
  if (!allFinite(t)) {
    puts("TrapezoidPlanner::rePlan cannot move the axis in this timing.");
    return -1;
  }
  timing_ = t;
  return 0;
}

double TrapezoidPlanner::position(int* finished, double t) const {
  int done = 0;
  double q;
  if (status_ != 1 || std::isnan(t)) {
    // Never planned, or the last plan failed: hold the start.
    q = input_.q0;
  } else {
    const TrapezoidTiming& p = timing_;
    const double t1 = p.Ta;
    const double t2 = p.Ta + p.Tv;
    const double t3 = p.Ta + p.Tv + p.Td;
    if (t < t1) {
      q = input_.q0 + input_.v0 * t + p.aa / 2.0 * t * t;
    } else if (t < t2) {
      q = input_.q0 + p.Sa + (t - p.Ta) * p.Vv;
    } else if (t < t3) {
      const double u = t - p.Ta - p.Tv;
      q = input_.q0 + p.Sa + p.Sv + u * p.Vv + p.ad / 2.0 * u * u;
    } else {
      q = input_.q1;
    }
    done = std::fabs(q - input_.q1) < kFinishTolerance ? 1 : 0;
  }
  if (finished != nullptr) *finished = done;
  return q;
}

bool TrapezoidPlanner::fastestCommonTiming(const std::vector<TrapezoidPlannerInput>& axes,
                                           TrapezoidTiming* timing) {
  // Ta >= 0 and Tv >= 0, then every axis's limits.
  std::vector<TimingBound> bounds = {{0.0, 1.0, 0.0, 0.0}, {0.0, -1.0, 1.0, 0.0}};
  for (const TrapezoidPlannerInput& in : axes) addBounds(in, bounds);
  double best = std::numeric_limits<double>::infinity();
  double best_x = 0.0, best_y = 0.0;
  auto consider = [&](double x, double y) {
    if (!(x >= 0.0 && y > 0.0 && x + y < best)) return;
    for (const TimingBound& b : bounds) {
      if (b.at(x, y) < -kBoundTolerance * b.size(x, y)) return;
    }
    best = x + y;
    best_x = x;
    best_y = y;
  };
  // The least x + y over the region lies where two bounds meet or where one
  // bound's boundary runs parallel to x + y = const: try every such point.
  double roots[2];
  for (size_t j = 0; j < bounds.size(); ++j) {
    const TimingBound& bj = bounds[j];
    if (bj.s != 0.0) {
      // Parallel where q + s*y = r + s*x, so y = x + k.
      const double k = (bj.r - bj.q) / bj.s;
      const int n = realRoots(bj.s, bj.q + bj.r + bj.s * k, bj.p + bj.r * k, roots);
      for (int i = 0; i < n; ++i) consider(roots[i], roots[i] + k);
    }
    for (size_t m = j + 1; m < bounds.size(); ++m) {
      const TimingBound& bm = bounds[m];
      // y eliminated from both boundaries.
      const int n = realRoots(bj.q * bm.s - bm.q * bj.s,
                              bj.p * bm.s + bj.q * bm.r - bm.p * bj.s - bm.q * bj.r,
                              bj.p * bm.r - bm.p * bj.r, roots);
      for (int i = 0; i < n; ++i) {
        const double x = roots[i];
        const bool use_j = std::fabs(bj.r + bj.s * x) >= std::fabs(bm.r + bm.s * x);
        consider(x, use_j ? bj.yAt(x) : bm.yAt(x));
      }
    }
  }
  if (!std::isfinite(best)) {
    // Nothing has to move: the empty timing.
    if (bounds.size() > 2) return false;
    best_x = best_y = 0.0;
  }
  TrapezoidTiming t;
  t.Ta = best_x;
  t.Td = best_x;
  t.Tv = std::max(0.0, best_y - best_x);
  t.Tall = t.Ta + t.Tv + t.Td;
  *timing = t;
  return true;
}
