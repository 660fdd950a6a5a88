// scale-sim-broker: starts scale-sims for a program that cannot start
// processes itself, such as a test under user-mode emulation, where fork
// and pthread_create never return. It listens on loopback, prints
// "broker PORT", and serves until its lifetime runs out or SIGTERM.
//
// Each connection asks for one scale-sim with a line "LIFETIME<TAB>ARG...",
// answered with the sim's own lines ("tcp HOST PORT", "pty PATH") and "end".
// "switch" then switches the sim between stream and request mode, and
// "control LINE" passes a command to one started with --control, answered
// with "ok" or "refused" once the sim has; the sim ends when the connection
// closes. Started with --qmp, a connection may instead send "qmp JSON": a
// command for the QEMU machine whose monitor listens there (tests inside it
// pull out and plug in its devices), answered "ok" or "refused ANSWER".
//   scale-sim-broker PATH-OF-SCALE-SIM [LIFETIME-SECONDS] [--qmp SOCKET]

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "qmp.h"
#include "scale_sim_launcher.h"

namespace {

struct Client {
  int fd;
  std::string pending;
  std::unique_ptr<scale_sim::SimProcess> sim;
};

volatile sig_atomic_t g_stop = 0;
std::string g_qmp;  // the machine's monitor, with --qmp

int Listen(int* port) {
  const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof addr;
  if (s < 0 || bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(s, 16) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
    return -1;
  }
  *port = ntohs(addr.sin_port);
  return s;
}

void Send(int fd, const std::string& text) {
  if (write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) std::perror("scale-sim-broker");
}

// A request line starts the client's scale-sim; later lines steer it.
void Serve(Client& c, const std::string& line, const std::string& program) {
  if (c.sim) {
    if (line == "switch") c.sim->SwitchMode();
    if (line.rfind("control ", 0) == 0) Send(c.fd, c.sim->Command(line.substr(8)) ? "ok\n" : "refused\n");
    return;
  }
  if (line.rfind("qmp ", 0) == 0) {
    std::string answer;
    Send(c.fd, !g_qmp.empty() && scale_sim::QmpExecute(g_qmp, line.substr(4), &answer) ? "ok\n"
                                                                                        : "refused " + answer + "\n");
    return;
  }
  std::istringstream fields(line);
  std::string lifetime, arg;
  std::getline(fields, lifetime, '\t');
  std::vector<std::string> args;
  while (std::getline(fields, arg, '\t')) args.push_back(scale_sim::FromBrokerField(arg));
  c.sim = std::make_unique<scale_sim::SimProcess>(program, args, std::atoi(lifetime.c_str()));
  std::string reply;
  if (c.sim->port() > 0) reply += "tcp 127.0.0.1 " + std::to_string(c.sim->port()) + "\n";
  if (!c.sim->ptyPath().empty()) reply += "pty " + c.sim->ptyPath() + "\n";
  if (c.sim->attached()) reply += "attached -\n";
  Send(c.fd, reply + "end\n");
}

// False when the client has gone: its scale-sim goes with it.
bool Receive(Client& c, const std::string& program) {
  char buffer[4096];
  const ssize_t n = read(c.fd, buffer, sizeof buffer);
  if (n <= 0) return false;
  c.pending.append(buffer, static_cast<size_t>(n));
  for (size_t end; (end = c.pending.find('\n')) != std::string::npos;) {
    const std::string line = c.pending.substr(0, end);
    c.pending.erase(0, end + 1);
    Serve(c, line, program);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("usage: scale-sim-broker PATH-OF-SCALE-SIM [LIFETIME-SECONDS] [--qmp SOCKET]\n", stderr);
    return 2;
  }
  const std::string program = argv[1];
  int lifetime = 3600;
  for (int i = 2; i < argc; ++i) {
    if (std::string(argv[i]) == "--qmp" && i + 1 < argc) {
      g_qmp = argv[++i];
    } else {
      lifetime = std::atoi(argv[i]);
    }
  }
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(lifetime);
  signal(SIGTERM, [](int) { g_stop = 1; });
  signal(SIGPIPE, SIG_IGN);
  int port = 0;
  const int listener = Listen(&port);
  if (listener < 0) {
    std::perror("scale-sim-broker");
    return 1;
  }
  std::printf("broker %d\n", port);
  std::fflush(stdout);
  std::vector<std::unique_ptr<Client>> clients;
  while (!g_stop && std::chrono::steady_clock::now() < end) {
    std::vector<pollfd> waiting{{listener, POLLIN, 0}};
    for (const auto& c : clients) waiting.push_back({c->fd, POLLIN, 0});
    if (poll(waiting.data(), waiting.size(), 500) <= 0) continue;
    for (size_t i = clients.size(); i > 0; --i) {
      if (waiting[i].revents != 0 && !Receive(*clients[i - 1], program)) {
        close(clients[i - 1]->fd);
        clients.erase(clients.begin() + static_cast<long>(i - 1));
      }
    }
    if ((waiting[0].revents & POLLIN) != 0) {
      const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0) clients.push_back(std::make_unique<Client>(Client{fd, "", nullptr}));
    }
  }
  for (const auto& c : clients) close(c->fd);
  return 0;
}
