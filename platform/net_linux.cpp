// Linux: reaching a TCP scale, every step bounded. A host text is read as an
// address by the fixed rule of host_text.h, a host name is looked up with
// getaddrinfo_a and a time limit, and the connection is made without
// blocking and waited for with the time left.

#include "platform/host_text.h"
#include "platform/os.h"
#include "platform/os_linux.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>

// glibc 2.34 moved the asynchronous lookup from libanl into libc, under a
// new version. The versions of old are still there, and in libanl (which the
// library also names) on the older systems it loads on.
#if defined(__x86_64__)
__asm__(".symver getaddrinfo_a,getaddrinfo_a@GLIBC_2.2.5");
__asm__(".symver gai_suspend,gai_suspend@GLIBC_2.2.5");
__asm__(".symver gai_cancel,gai_cancel@GLIBC_2.2.5");
__asm__(".symver gai_error,gai_error@GLIBC_2.2.5");
#elif defined(__i386__)
__asm__(".symver getaddrinfo_a,getaddrinfo_a@GLIBC_2.2.3");
__asm__(".symver gai_suspend,gai_suspend@GLIBC_2.2.3");
__asm__(".symver gai_cancel,gai_cancel@GLIBC_2.2.3");
__asm__(".symver gai_error,gai_error@GLIBC_2.2.3");
#endif

namespace os {

HostText ReadHostText(const char* text, uint8_t address[4]) {
  if (ReadDecimalAddress(text, address)) return HostText::Address;
  in_addr number{};
  if (DigitsAndDots(text) || inet_aton(text, &number) != 0) return HostText::NotAnAddress;
  return HostText::Name;
}

namespace {

// One lookup, shared by the caller and glibc's notification of its end:
// whichever lets go last frees it, so that a caller that stops waiting never
// leaves glibc writing into freed memory.
struct Lookup {
  explicit Lookup(const char* host) {
    std::snprintf(name, sizeof name, "%s", host);
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    request.ar_name = name;
    request.ar_request = &hints;
  }
  void Release() {
    if (holders.fetch_sub(1) != 1) return;
    if (request.ar_result != nullptr) freeaddrinfo(request.ar_result);
    delete this;
  }
  char name[256] = {};
  addrinfo hints{};
  gaicb request{};
  std::atomic<int> holders{2};  // the caller and the notification
};

void LookupEnded(sigval value) { static_cast<Lookup*>(value.sival_ptr)->Release(); }

bool FirstAddress(const addrinfo* found, uint8_t address[4]) {
  for (; found != nullptr; found = found->ai_next) {
    if (found->ai_family != AF_INET) continue;
    const auto* in = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    std::memcpy(address, &in->sin_addr, 4);
    return true;
  }
  return false;
}

}  // namespace

bool ResolveHost(const char* name, uint32_t ms, uint8_t address[4], char* why, std::size_t whySize) {
  Lookup* lookup = new (std::nothrow) Lookup(name);
  if (lookup == nullptr) {
    std::snprintf(why, whySize, "no memory for the lookup");
    return false;
  }
  sigevent ended{};
  ended.sigev_notify = SIGEV_THREAD;
  ended.sigev_notify_function = LookupEnded;
  ended.sigev_value.sival_ptr = lookup;
  gaicb* list[] = {&lookup->request};
  const int started = getaddrinfo_a(GAI_NOWAIT, list, 1, &ended);
  if (started != 0) {
    delete lookup;  // no notification will come
    std::snprintf(why, whySize, "the name does not resolve: %s", gai_strerror(started));
    return false;
  }
  const uint32_t start = Tick();
  int error = gai_error(&lookup->request);
  while (error == EAI_INPROGRESS && Since(start) < ms) {
    const uint32_t rest = Left(start, ms);
    const timespec left{static_cast<time_t>(rest / 1000), static_cast<long>(rest % 1000) * 1000000L};
    gai_suspend(list, 1, &left);
    error = gai_error(&lookup->request);
  }
  bool found = false;
  if (error == EAI_INPROGRESS) {
    // A lookup that has not begun goes; one under way runs to its end, and
    // its notification frees it.
    if (gai_cancel(&lookup->request) == EAI_CANCELED) lookup->Release();
    std::snprintf(why, whySize, "the name does not resolve: timed out after %u ms", static_cast<unsigned>(ms));
  } else if (error != 0) {
    char system[128] = "";
    if (error == EAI_SYSTEM) LastErrorText(system, sizeof system);
    std::snprintf(why, whySize, "the name does not resolve: %s", error == EAI_SYSTEM ? system : gai_strerror(error));
  } else {
    found = FirstAddress(lookup->request.ar_result, address);
    if (!found) std::snprintf(why, whySize, "the name does not resolve: no IPv4 address");
  }
  lookup->Release();
  return found;
}

namespace {

// Waits up to ms for a non-blocking connect to end; 0 when it connected,
// else the error (ETIMEDOUT when the time passed first).
int AwaitConnect(int fd, uint32_t ms) {
  const uint32_t start = Tick();
  for (;;) {
    pollfd one{fd, POLLOUT, 0};
    const int ready = poll(&one, 1, static_cast<int>(Left(start, ms)));
    if (ready > 0) break;
    if (ready == 0 || Since(start) >= ms) return ETIMEDOUT;
    if (errno != EINTR) return errno;
  }
  int error = 0;
  socklen_t size = sizeof error;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) return errno;
  return error;
}

}  // namespace

Socket TcpConnect(const uint8_t address[4], uint16_t port, uint32_t ms, char* why, std::size_t whySize) {
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(port);
  std::memcpy(&peer.sin_addr, address, 4);
  const int fd = AboveStdio(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP));
  if (fd < 0) {
    LastErrorText(why, whySize);
    return kNoSocket;
  }
  int error = connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0 ? 0 : errno;
  if (error == EINPROGRESS) error = AwaitConnect(fd, ms);
  // The channel's reads and writes are made on a blocking socket. FIONBIO
  // rather than fcntl: on i386 fcntl's default version is GLIBC_2.28, newer
  // than the systems the library loads on.
  int blocking = 0;
  if (error == 0 && ioctl(fd, FIONBIO, &blocking) != 0) error = errno;
  if (error != 0) {
    if (error == ETIMEDOUT) {
      std::snprintf(why, whySize, "timed out after %u ms", static_cast<unsigned>(ms));
    } else {
      errno = error;
      LastErrorText(why, whySize);
    }
    close(fd);
    return kNoSocket;
  }
  return static_cast<Socket>(fd);
}

}  // namespace os
