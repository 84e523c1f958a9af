#pragma once

#include <cstdint>
#include <deque>
#include <vector>

// Moving average over the last samples, element by element, kept as running
// sums so a step costs one subtraction, addition and division per element.
class MovingAverageFilter {
 public:
  // Returns the smoothed sample. A sample whose size differs from the first
  // one, or a window of 0, is refused with a printed line and an empty result.
  std::vector<double> filter(const std::vector<double>& sample, uint32_t window);

  uint32_t joint_num_ = 0;
  std::deque<std::vector<double>> window_;
  std::vector<double> sum_;

 private:
  bool started_ = false;
};
