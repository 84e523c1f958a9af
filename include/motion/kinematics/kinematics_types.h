#pragma once

#include <cstddef>
#include <cstdint>

// 180 / 3.14159275, not 180 / pi: the arm's own degree factor, so the
// command node and the stream server report the same angles.
constexpr double kRadToDeg = 57.295777754771045;

// Joint values of the six-joint arm, joint 1 first.
struct JointVec6f {
  JointVec6f() {}
  JointVec6f(float q1, float q2, float q3, float q4, float q5, float q6) : v{q1, q2, q3, q4, q5, q6} {}
  float& operator[](std::size_t i) { return v[i]; }
  float operator[](std::size_t i) const { return v[i]; }

  float v[6] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
};

// Joint values of the five-joint model, joint 1 first.
struct JointVec5f {
  JointVec5f() {}
  JointVec5f(float q1, float q2, float q3, float q4, float q5) : v{q1, q2, q3, q4, q5} {}
  float& operator[](std::size_t i) { return v[i]; }
  float operator[](std::size_t i) const { return v[i]; }

  float v[5] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
};

// Tool pose in the base frame: position in the DH length unit, orientation
// as roll, pitch, yaw and as a row-major rotation.
struct Pose6D {
  Pose6D() {}
  Pose6D(float x_, float y_, float z_, float roll_, float pitch_, float yaw_)
      : x(x_), y(y_), z(z_), roll(roll_), pitch(pitch_), yaw(yaw_) {}

  float x = 0.0f;
  float y = 0.0f;
  float z = 0.0f;
  float roll = 0.0f;
  float pitch = 0.0f;
  float yaw = 0.0f;
  float rotation[9] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
};

// One row of the standard DH model.
struct DhRow {
  float theta_offset = 0.0f;
  float d = 0.0f;
  float a = 0.0f;
  float alpha = 0.0f;
};

constexpr int32_t kMaxIkSolutions = 8;

// Result of the inverse solution: num_sols valid entries, in branch order.
struct IkSolutions {
  JointVec5f q_sols[kMaxIkSolutions];
  int32_t num_sols = 0;
};
