#include "Collision/moving_average_filter.h"

#include <cstdio>
#include <utility>

std::vector<double> MovingAverageFilter::filter(const std::vector<double>& sample,
                                                uint32_t window) {
  if (window == 0) {
    puts("MovingAverageFilter: a window of 0 samples cannot average, sample dropped.");
    return {};
  }
  // The first sample fixes the width; running sums only make sense for one width.
  if (sum_.empty() && window_.empty()) {
    joint_num_ = static_cast<uint32_t>(sample.size());
    sum_.assign(joint_num_, 0.0);
  } else if (sample.size() != joint_num_) {
    printf("MovingAverageFilter: sample of %zu values where %u are expected, sample dropped.\n",
           sample.size(), joint_num_);
    return {};
  }

  std::vector<double> slot;
  // A loop rather than one removal, so a shorter window than before also holds.
  while (window_.size() >= window) {
    std::vector<double>& oldest = window_.front();
    for (uint32_t i = 0; i < joint_num_; ++i) {
      sum_[i] -= oldest[i];
    }
    slot = std::move(oldest);
    window_.pop_front();
  }
  slot.assign(sample.begin(), sample.end());
  window_.push_back(std::move(slot));

  std::vector<double> output(joint_num_);
  const double count = static_cast<double>(window_.size());
  for (uint32_t i = 0; i < joint_num_; ++i) {
    sum_[i] += sample[i];
    output[i] = sum_[i] / count;
  }
  return output;
}
