#pragma once

#include "servo/servo_family_low_first.h"

// Servo family B: the same registers and encoding as family A.
class ServoFamilyB : public ServoFamilyLowFirstAB {
 public:
  using ServoFamilyLowFirstAB::ServoFamilyLowFirst;
};
