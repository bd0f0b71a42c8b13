// The data module: owns the line table of non-fiscal receipts, which the
// table variant of the receipt prints.
#pragma once

#include "driver/line_table.h"

namespace app {

class TComP_ZUV {
 public:
  TComP_ZUV();  // DataModuleCreate: the empty table, published to the driver
  ~TComP_ZUV();
  TComP_ZUV(const TComP_ZUV&) = delete;
  TComP_ZUV& operator=(const TComP_ZUV&) = delete;

  zuv::TLineTable cdsNefiskalni;
};

extern TComP_ZUV* ComP_ZUV;

}  // namespace app
