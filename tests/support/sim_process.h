#pragma once
// scale-sim for the length of a test, through the tools' launcher.

#include <string>
#include <utility>
#include <vector>

#include "scale_sim_launcher.h"

namespace testing_support {

class SimProcess : public scale_sim::SimProcess {
 public:
  explicit SimProcess(std::vector<std::string> args) : scale_sim::SimProcess(SCALE_SIM_PATH, std::move(args), 120) {}
};

using scale_sim::ClosedTcpPort;

}  // namespace testing_support
