#include "data_module.h"

namespace app {

TComP_ZUV* ComP_ZUV = nullptr;

TComP_ZUV::TComP_ZUV() {
  zuv::cdsNefiskalni = &cdsNefiskalni;
  ComP_ZUV = this;
}

TComP_ZUV::~TComP_ZUV() {
  if (zuv::cdsNefiskalni == &cdsNefiskalni) zuv::cdsNefiskalni = nullptr;
  if (ComP_ZUV == this) ComP_ZUV = nullptr;
}

}  // namespace app
