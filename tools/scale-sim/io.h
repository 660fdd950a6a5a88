#pragma once
// The little the simulated scale needs from the operating system: a TCP
// listener and its peers, a pseudo-terminal where there is one, waiting for
// input, and a stop request. One implementation per OS.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim::io {

using Fd = intptr_t;
constexpr Fd kNoFd = -1;

struct Endpoint {
  Fd fd;
  bool pty;
};

bool Start();
// Listens on host:port (0: any free port); the port bound goes to *bound.
Fd Listen(const std::string& host, int port, int* bound);
// A new non-blocking peer, or kNoFd.
Fd Accept(Fd listener);
// A non-blocking connection to a listening local socket at path, or kNoFd
// (said on stderr when complain).
Fd ConnectLocal(const std::string& path, bool complain);
// A pseudo-terminal in raw mode: its master end, and in *path the device
// the driver opens. kNoFd where the system has none.
Fd OpenPty(std::string* path);
// Bytes read; 0 when the peer has gone; -1 when nothing is there now.
long Read(const Endpoint& e, void* buffer, size_t size);
// Bytes written; -1 when nothing could be written now.
long Write(const Endpoint& e, const void* bytes, size_t count);
// Bytes written that the peer has not taken yet, where the system tells
// (a pseudo-terminal's, a local socket's); 0 where it does not.
long Unread(const Endpoint& e);
void Close(const Endpoint& e);
// Closes a TCP peer with a reset instead of an orderly shutdown.
void Reset(const Endpoint& e);
// Waits up to timeoutUs for input; ready[i] tells whether endpoints[i] has
// some (a listener is ready when a peer is waiting to be accepted).
void Wait(const std::vector<Endpoint>& endpoints, long timeoutUs, std::vector<bool>* ready);
// Calls handler on SIGINT/SIGTERM (Ctrl+C on Windows).
void OnStop(void (*handler)());
// Calls handler on SIGUSR1 (nothing on Windows).
void OnSwitch(void (*handler)());

}  // namespace sim::io
