#include <gtest/gtest.h>

#include <csignal>
#include <clocale>

#include "support/mapped_ports.h"

int main(int argc, char** argv) {
  testing_support::InstallPortRule();
  std::setlocale(LC_ALL, "C");
  std::signal(SIGPIPE, SIG_IGN);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
