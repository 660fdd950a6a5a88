#include "channel/decimal_separator.h"

#include <cstdlib>

namespace pesolan {

std::atomic<char> DecimalSeparator{'.'};

void UpdateDecimalSeparator() {
  if (std::atof("0.102") > 0) {
    DecimalSeparator = '.';
  } else if (std::atof("0,102") > 0) {
    DecimalSeparator = ',';
  }
}

}  // namespace pesolan
