#pragma once
// Name lookups and connections that cannot leave the machine: the work runs
// in a child process in a network namespace of its own, where only loopback
// is up, with a hosts file, a resolver configuration and a name service
// switch of the test's own (hosts: files, then DNS at 127.0.0.1, where no
// server answers), and the sockets of resolver daemons hidden. Needs root,
// as the private /dev does; as root, a namespace that cannot be made is a
// failure of the test, not a reason to skip it.

#include <functional>
#include <string>

namespace testing_support {

// What Offline returns when it cannot make the namespace for want of root.
extern const char* const kNotOffline;

// Runs work in the child and returns the text it returned. hosts becomes
// the child's /etc/hosts.
std::string Offline(const std::function<std::string()>& work,
                    const std::string& hosts = "127.0.0.1 localhost\n");

#define REQUIRE_OFFLINE(result) \
  if ((result) == testing_support::kNotOffline) GTEST_SKIP() << "needs root for a private network namespace"

}  // namespace testing_support
