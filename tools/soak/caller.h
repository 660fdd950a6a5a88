#pragma once
// One session of the platform's server: a component of its own with 1 to 8
// devices, calling in a seeded random order with the platform's habits.

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "addin_host.h"
#include "soak.h"

namespace soak {

class Caller {
 public:
  // The scales given are this session's devices, one each.
  Caller(host::Library& library, const std::vector<Scale>& scales, std::vector<int> mine, uint64_t seed);
  ~Caller();
  // Calls until the time comes, then closes its devices and destroys its
  // component.
  void Run(Clock::time_point until);

  std::vector<Call> calls;
  int unexpected = 0;  // SetParameter answers that contradict the value given

 private:
  struct Device {
    int scale = -1;
    int unit = 0;
    std::u16string id;  // empty: not open
    int failures = 0;
  };
  struct Session;

  void NewSession();
  void EndSession();
  void Open(Device& d);
  void Close(Device& d);
  void ReadWeight(Device& d);
  void SetSomething();
  int LastError(bool afterFailure);
  host::CallResult Timed(Method m, const std::u16string& method, std::vector<host::Arg> args, std::string* outcome);
  Device& AnyDevice();

  host::Library& library_;
  const std::vector<Scale>& scales_;
  std::vector<Device> devices_;
  std::unique_ptr<Session> session_;
  std::mt19937_64 random_;
  bool allowUnstable_ = false;
  bool commaLocale_ = false;
};

}  // namespace soak
