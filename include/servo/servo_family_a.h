#pragma once

#include "servo/servo_family_low_first.h"

// Servo family A, the arm's joints.
class ServoFamilyA : public ServoFamilyLowFirstAB {
 public:
  using ServoFamilyLowFirstAB::ServoFamilyLowFirst;
};
