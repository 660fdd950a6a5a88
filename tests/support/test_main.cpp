#include <gtest/gtest.h>

#include <clocale>
#include <csignal>

#if defined(_WIN32)
#include <winsock2.h>
#else
#include "support/mapped_ports.h"
#endif

int main(int argc, char** argv) {
#if defined(_WIN32)
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
#else
  testing_support::InstallPortRule();
  std::signal(SIGPIPE, SIG_IGN);
#endif
  std::setlocale(LC_ALL, "C");
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
