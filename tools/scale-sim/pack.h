#pragma once
// --pack: what stands between the scale's serial side and its peer, as a
// serial-to-network converter or a virtual COM port does: it gathers the
// bytes the scale sends into packs and hands each pack over whole, when
//   gap:MS    the scale's side has been quiet for MS milliseconds
//   bytes:N   it holds N bytes
//   lines:N   it holds N whole lines
//   delim:X   it has taken the byte X (cr, lf, or two hex digits), which
//             ends the pack: with cr, the LF starts the next one
//   timer:MS  MS milliseconds have passed since the pack's first byte
// Several, comma-separated, as a converter takes them: whichever comes
// first; and whatever the rule, a pack goes once its first byte is 250 ms
// old (a converter's force-transmit time: no line waits in it longer than
// a pack's worth of a 9600 baud line). Without --pack each write of the
// scale goes to its peer as it is.

#include <chrono>
#include <string>
#include <vector>

namespace sim {

using Clock = std::chrono::steady_clock;

struct PackRule {
  long gapUs = 0;
  size_t bytes = 0;
  int lines = 0;
  int delim = -1;
  long timerUs = 0;
  bool on() const { return gapUs > 0 || bytes > 0 || lines > 0 || delim >= 0 || timerUs > 0; }
};

// Empty, or why text is no rule.
std::string ParsePack(const std::string& text, PackRule* rule);

class Packer {
 public:
  explicit Packer(const PackRule& rule) : rule_(rule) {}
  // Bytes from the scale's side at now; the packs they complete are
  // appended to ready, each one string.
  void Take(const char* bytes, size_t count, Clock::time_point now, std::vector<std::string>* ready);
  // The pack held, when a gap or its timer has come due by now.
  void Tick(Clock::time_point now, std::vector<std::string>* ready);
  // When the pack held falls due by time; max() when it does not.
  Clock::time_point Due() const;
  void Clear() { held_.clear(), lines_ = 0; }

 private:
  void Close(std::vector<std::string>* ready);
  PackRule rule_;
  std::string held_;
  int lines_ = 0;
  Clock::time_point first_{}, last_{};
};

}  // namespace sim
