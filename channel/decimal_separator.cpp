#include "channel/decimal_separator.h"

#include <cstdlib>

namespace pesolan {

std::atomic<char> DecimalSeparator{'.'};

std::mutex& LocaleTurns() {
  static std::mutex turns;
  return turns;
}

void UpdateDecimalSeparator() {
  const std::lock_guard<std::mutex> turn(LocaleTurns());
  if (std::atof("0.102") > 0) {
    DecimalSeparator = '.';
  } else if (std::atof("0,102") > 0) {
    DecimalSeparator = ',';
  }
}

}  // namespace pesolan
