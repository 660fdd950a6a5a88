#include "scale_sim_launcher.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace scale_sim {
namespace {

// Reads one line from fd, waiting at most timeoutMs for each byte.
bool ReadLine(int fd, std::string* line, int timeoutMs) {
  line->clear();
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return false;
    char c;
    if (read(fd, &c, 1) != 1) return false;
    if (c == '\n') return true;
    *line += c;
  }
}

// "PORT" on loopback, or "ADDRESS:PORT" (a virtual machine's tests reach
// the broker on its host through the machine's user network).
int ConnectToBroker(const std::string& where) {
  const size_t colon = where.rfind(':');
  const std::string host = colon == std::string::npos ? "127.0.0.1" : where.substr(0, colon);
  const int port = std::atoi(where.c_str() + (colon == std::string::npos ? 0 : colon + 1));
  const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  if (inet_pton(AF_INET, host.c_str(), &addr.sin_addr) != 1) {
    if (s >= 0) close(s);
    return -1;
  }
  if (s >= 0 && connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return s;
  if (s >= 0) close(s);
  return -1;
}

bool WriteAll(int fd, const std::string& text) {
  return write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

}  // namespace

bool SimProcess::TakeWhere(const std::string& line) {
  char word[8], host[64], path[256];
  int port = 0;
  if (std::sscanf(line.c_str(), "%7s %63s %d", word, host, &port) == 3 && std::strcmp(word, "tcp") == 0) {
    port_ = port;
  } else if (std::sscanf(line.c_str(), "%7s %255s", word, path) == 2 && std::strcmp(word, "pty") == 0) {
    ptyPath_ = path;
  } else if (line.rfind("attached ", 0) == 0) {
    attached_ = true;
  } else {
    return false;
  }
  return true;
}

// One line to the broker: the lifetime and the arguments, tab-separated;
// back come scale-sim's own lines, then "end".
void SimProcess::StartThroughBroker(const std::string& broker, const std::vector<std::string>& args,
                                    int lifetimeSeconds) {
  broker_ = ConnectToBroker(broker);
  std::string request = std::to_string(lifetimeSeconds);
  for (const std::string& a : args) request += "\t" + BrokerField(a);
  if (broker_ < 0 || !WriteAll(broker_, request + "\n")) return;
  std::string line;
  while (ReadLine(broker_, &line, 10000) && line != "end") TakeWhere(line);
}

SimProcess::SimProcess(const std::string& program, std::vector<std::string> args, int lifetimeSeconds) {
  const char* broker = std::getenv("PESOLAN_SIM_BROKER");
  if (broker != nullptr && broker[0] != '\0') {
    StartThroughBroker(broker, args, lifetimeSeconds);
    return;
  }
  args.insert(args.begin(), program);
  args.push_back("--lifetime");
  args.push_back(std::to_string(lifetimeSeconds));
  const bool wantTcp = (std::find(args.begin(), args.end(), "--pty") == args.end() &&
                        std::find(args.begin(), args.end(), "--attach") == args.end()) ||
                       std::find(args.begin(), args.end(), "--tcp") != args.end();
  const bool wantPty = std::find(args.begin(), args.end(), "--pty") != args.end();
  const bool wantAttach = std::find(args.begin(), args.end(), "--attach") != args.end();
  int out[2], in[2];
  if (pipe(out) != 0) return;
  if (pipe2(in, O_CLOEXEC) != 0) {
    close(out[0]);
    close(out[1]);
    return;
  }
  pid_ = fork();
  if (pid_ == 0) {
    dup2(out[1], STDOUT_FILENO);
    dup2(in[0], STDIN_FILENO);
    close(out[0]);
    close(out[1]);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  close(in[0]);
  input_ = in[1];
  std::string line;
  for (int lines = (wantTcp ? 1 : 0) + (wantPty ? 1 : 0) + (wantAttach ? 1 : 0); lines > 0; --lines) {
    if (!ReadLine(out[0], &line, 5000)) break;
    TakeWhere(line);
  }
  output_ = out[0];  // where it answers its commands
}

SimProcess::~SimProcess() {
  if (broker_ >= 0) close(broker_);  // the broker ends the scale-sim
  if (input_ >= 0) close(input_);
  if (output_ >= 0) close(output_);
  if (pid_ <= 0) return;
  kill(static_cast<pid_t>(pid_), SIGTERM);
  int status = 0;
  waitpid(static_cast<pid_t>(pid_), &status, 0);
}

// Waits for the answer, so that the command has been carried out when this
// returns: a test or a schedule never has to guess how long that takes.
bool SimProcess::Command(const std::string& line) {
  std::string answer;
  if (broker_ >= 0) return WriteAll(broker_, "control " + line + "\n") && ReadLine(broker_, &answer, 10000) && answer == "ok";
  return input_ >= 0 && WriteAll(input_, line + "\n") && ReadLine(output_, &answer, 10000) && answer == "ok";
}

void SimProcess::SwitchMode() {
  if (broker_ >= 0) WriteAll(broker_, "switch\n");
  if (pid_ > 0) kill(static_cast<pid_t>(pid_), SIGUSR1);
}

std::string BrokerField(const std::string& arg) {
  std::string field;
  for (const char c : arg) {
    if (c == '\\') field += "\\\\";
    else if (c == '\t') field += "\\t";
    else if (c == '\n') field += "\\n";
    else if (c == '\r') field += "\\r";
    else field += c;
  }
  return field;
}

std::string FromBrokerField(const std::string& field) {
  std::string arg;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '\\' || i + 1 == field.size()) {
      arg += field[i];
      continue;
    }
    const char c = field[++i];
    arg += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
  }
  return arg;
}

bool AskBroker(const std::string& line, std::string* answer) {
  const char* broker = std::getenv("PESOLAN_SIM_BROKER");
  const int fd = broker != nullptr ? ConnectToBroker(broker) : -1;
  const bool answered = fd >= 0 && WriteAll(fd, line + "\n") && ReadLine(fd, answer, 10000);
  if (fd >= 0) close(fd);
  return answered;
}

ClosedTcpPort::ClosedTcpPort() {
  const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (s >= 0 && bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
    port_ = ntohs(addr.sin_port);
  }
  socket_ = s;
}

ClosedTcpPort::~ClosedTcpPort() {
  if (socket_ >= 0) close(static_cast<int>(socket_));
}

}  // namespace scale_sim
