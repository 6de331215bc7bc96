#pragma once
// Halvex30: the 30-cell string that the plug-in hands out, device type
// "halvex_30". A Battery32 over 30 cells with the monitor's own reading of
// the cell reply (silent, second trim on wire position 28).

#include "celldata/battery32.h"

class Halvex30 : public Battery32 {
 public:
  Halvex30();
  ~Halvex30() override;

  // Readings 0 to 29 of the 67-byte cell reply; 30 and 31 count only in the
  // checksum. Writes nothing to standard output.
  int ProcessBatteryVoltage() override;
};
