// movj_s over DDS: the timed points that reach the spline, and messages that
// must be refused without reading past what they hold.
#include <limits>
#include <sstream>

#include "node_harness.h"

namespace node_test {
namespace {

using namespace std::chrono_literals;

class MovjSQueueing : public NodeTest {};

constexpr double kInf = std::numeric_limits<double>::infinity();

// P rows of six joints and a time; joint j of point p is (p + 1) * 0.1 + j * 0.01.
std::string rows(int points, const std::vector<double>& times) {
  std::ostringstream out;
  for (int p = 0; p < points; ++p) {
    for (int j = 0; j < 6; ++j) out << (p + 1) * 0.1 + j * 0.01 << ",";
    out << times[static_cast<size_t>(p)] << (p + 1 < points ? "," : "");
  }
  return out.str();
}

TEST_F(MovjSQueueing, FourTimedPointsQueueOneSplinePerAxisThroughThem) {
  runPeer({"movjs", "4,7", rows(4, {0.5, 1.0, 1.5, 2.5})});
  ASSERT_TRUE(waitForQueueSize(1, 5s));
  auto queue = takeQueue();
  ASSERT_EQ(queue.size(), 1u);
  const auto inputs = cubicInputs(queue[0].get());
  ASSERT_EQ(inputs.size(), 6u);
  for (int j = 0; j < 6; ++j) {
    SCOPED_TRACE(j);
    ASSERT_EQ(inputs[j].positions.size(), 4u);
    for (int p = 0; p < 4; ++p) EXPECT_DOUBLE_EQ(inputs[j].positions[p], (p + 1) * 0.1 + j * 0.01);
    EXPECT_EQ(inputs[j].times, (std::vector<double>{0.5, 1.0, 1.5, 2.5}));
  }
  const std::string out = capture_->text();
  EXPECT_NE(out.find("I recieve movj_s:\n0.100000,0.110000,0.120000,0.130000,0.140000,0.150000,"
                     ";Time (s) = 0.500000;\n"),
            std::string::npos);
  EXPECT_EQ(countOf(out, ";Time (s) = "), 4u);
}

TEST_F(MovjSQueueing, MalformedPointListsQueueNothing) {
  const std::string good = rows(4, {0.5, 1.0, 1.5, 2.0});
  runPeer({
      "pace", "40",
      "movjs", "3,6", rows(3, {0.5, 1.0, 1.5}),           // too few points, columns wrong too
      "movjs", "4294967295,7", good,                      // P reads as -1
      "movjs", "-", good,                                 // no layout at all
      "movjs", "4", good,                                 // one dimension
      "movjs", "4,6", good,                               // columns without the time
      "movjs", "5,7", good,                               // a point more than the data holds
      "movjs", "613566757,7", good,                       // P x C wraps to 3 in 32 bits
      "movjs", "4,7", rows(4, {0.5, 1.0, 1.0, 2.0}),      // time stands still
      "movjs", "4,7", rows(4, {0.5, 0.2, 1.0, 2.0}),      // time runs back
      "movjs", "4,7", rows(4, {0.5, 1.0, 1.5, kInf}),    // infinite time
      "movjs", "4,7", "0,0,0,0,0,0,0.5,0,0,0,nan,0,0,1,0,0,0,0,0,0,1.5,0,0,0,0,0,0,2",
      "movjs", "4,7", "0,0,0,0,0,0,0.5,0,0,0,4,0,0,1,0,0,0,0,0,0,1.5,0,0,0,0,0,0,2",
      "movjs", "4,7", good,
  });
  ASSERT_TRUE(waitForQueueSize(1, 5s));
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(takeQueue().size(), 1u);

  const std::string out = capture_->text();
  EXPECT_EQ(countOf(out, "There are not eough point to get cubicspline."), 2u);
  EXPECT_NE(out.find("We recieve the wrong movj cmd size=<28>, not euqal (axis_num+1)"),
            std::string::npos);
  // Missing dimensions, a short data array and non-increasing or infinite
  // times each have their own refusal line; none of them is echoed as points.
  EXPECT_EQ(countOf(out, "We recieve the wrong movj_s cmd layout"), 2u);
  EXPECT_EQ(countOf(out, "We recieve the wrong movj_s cmd size=<28>"), 2u);
  EXPECT_EQ(countOf(out, "does not come after the point before"), 3u);
  EXPECT_NE(out.find("The 2st point 4st axim angle is over range."), std::string::npos);
  EXPECT_EQ(countOf(out, "st axim angle is over range."), 2u);
  // Only well-formed lists are echoed: three with bad times, two over range, the good one.
  EXPECT_EQ(countOf(out, "I recieve movj_s:"), 6u);
}

}  // namespace
}  // namespace node_test
