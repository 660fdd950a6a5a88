#include "support/offline.h"

#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace testing_support {

const char* const kNotOffline = "<no private network namespace>";

namespace {

bool LoopbackUp() {
  const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  const bool up = s >= 0 && ioctl(s, SIOCGIFFLAGS, &request) == 0 &&
                  (request.ifr_flags |= IFF_UP, ioctl(s, SIOCSIFFLAGS, &request) == 0);
  if (s >= 0) close(s);
  return up;
}

// A file of the child's own mounted over target.
bool Replace(const char* target, const std::string& text) {
  char path[] = "/tmp/pesolan-offline.XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return false;
  const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  close(fd);
  const bool mounted = written && mount(path, target, nullptr, MS_BIND, nullptr) == 0;
  unlink(path);  // the mount keeps it
  return mounted;
}

// The folders of resolver daemons' sockets (nscd, systemd-resolved, the
// system bus they answer on), made empty where they exist: a Unix socket
// is reached by its path from any network namespace, and the daemon behind
// it would look the name up on the machine's network.
bool HideResolverSockets() {
  for (const char* folder : {"/run/nscd", "/var/run/nscd", "/run/systemd/resolve", "/run/dbus", "/var/run/dbus"}) {
    if (access(folder, F_OK) == 0 && mount("none", folder, "tmpfs", 0, "mode=755") != 0) return false;
  }
  return true;
}

// Names are looked up in the hosts file, and the rest asked of the resolver
// at 127.0.0.1 of this namespace alone: no lookup module but these two.
bool MakeOffline(const std::string& hosts) {
  return unshare(CLONE_NEWNET | CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
         LoopbackUp() && Replace("/etc/hosts", hosts) && Replace("/etc/resolv.conf", "nameserver 127.0.0.1\n") &&
         Replace("/etc/nsswitch.conf", "hosts: files dns\n") && HideResolverSockets();
}

}  // namespace

std::string Offline(const std::function<std::string()>& work, const std::string& hosts) {
  if (geteuid() != 0) return kNotOffline;
  int out[2];
  if (pipe(out) != 0) return kNotOffline;
  const pid_t child = fork();
  if (child == 0) {
    close(out[0]);
    const std::string result =
        MakeOffline(hosts) ? work() : std::string("<no private network namespace: ") + std::strerror(errno) + ">";
    const bool sent = write(out[1], result.data(), result.size()) == static_cast<ssize_t>(result.size());
    _exit(sent ? 0 : 1);
  }
  close(out[1]);
  std::string result;
  char buffer[512];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) result.append(buffer, static_cast<size_t>(n));
  close(out[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return result;
}

}  // namespace testing_support
