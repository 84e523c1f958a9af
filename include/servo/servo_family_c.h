#pragma once

#include "servo/servo_family_low_first.h"

// Servo family C: as family A with the mode register at 35 and the EEPROM
// lock at 48.
class ServoFamilyC : public ServoFamilyLowFirstC {
 public:
  using ServoFamilyLowFirstC::ServoFamilyLowFirst;
};
