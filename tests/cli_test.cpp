// The pesolan program as a person or a script uses it.

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "support/sim_process.h"

using testing_support::ClosedTcpPort;
using testing_support::SimProcess;

namespace {

struct Outcome {
  int status;
  std::string out;
};

Outcome Pesolan(const std::string& args) {
  const std::string command = std::string(PESOLAN_PATH) + " --lib " + PESOLAN_LIBRARY_PATH + " " + args + " 2>&1";
  Outcome r{-1, ""};
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return r;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, p) != nullptr) r.out += buffer;
  const int status = pclose(p);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

std::string Tcp(const SimProcess& sim) { return "--tcp 127.0.0.1:" + std::to_string(sim.port()); }

TEST(Cli, WeightIsPrintedInTheChosenUnit) {
  SimProcess sim({"--tcp"});
  const Outcome r = Pesolan("weight " + Tcp(sim) + " --unit 2");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "12345 g\n");
}

TEST(Cli, JsonForScriptsAndWatchRepeats) {
  SimProcess sim({"--tcp", "--mode", "request", "--weight", "1500", "--unit", "g"});
  const Outcome r = Pesolan("--json weight " + Tcp(sim) + " --unit 3 --watch --count 2 --interval 1");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "{\"ok\":true,\"weight\":1.5,\"unit\":3}\n{\"ok\":true,\"weight\":1.5,\"unit\":3}\n");
}

TEST(Cli, FailureGivesStatusOneWithTheNumberAndRussianMessage) {
  SimProcess silent({"--tcp", "--mode", "silent"});
  Outcome r = Pesolan("weight " + Tcp(silent));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "error 106: Нет данных от весов.\n");
  r = Pesolan("--json weight --tcp 127.0.0.1:" + std::to_string(ClosedTcpPort()));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "{\"ok\":false,\"error\":105,\"message\":\"Ошибка подключения клиента TCP.\"}\n");
}

TEST(Cli, DeviceTestReportAndDocuments) {
  SimProcess sim({"--tcp"});
  Outcome r = Pesolan("--locale ru_RU.UTF-8 test " + Tcp(sim) + " --unit 3");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Вес равен 12,345 кг.\n");
  r = Pesolan("actions");
  EXPECT_EQ(r.out, "<?xml version=\"1.0\" encoding=\"UTF-8\"?> <Actions>  </Actions>\n");
}

TEST(Cli, UsageErrorsAndAMissingLibraryHaveTheirOwnStatus) {
  EXPECT_EQ(Pesolan("weight").status, 2) << "no channel";
  EXPECT_EQ(Pesolan("frobnicate").status, 2);
  EXPECT_EQ(Pesolan("weight --tcp nohost").status, 2);
  const std::string command = std::string(PESOLAN_PATH) + " --lib /nonexistent/libPesolan.so describe 2>/dev/null";
  EXPECT_EQ(WEXITSTATUS(std::system(command.c_str())), 3);
}

}  // namespace
