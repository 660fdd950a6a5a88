#pragma once
// --control: commands on standard input, one a line, that change the scale
// while it serves (the soak's schedule drives its scales with them). Each is
// answered on standard output, once carried out: "ok", or "refused" with
// the reason on standard error.
//   weight TEXT      the number the scale shows from now on
//   unit kg|g|t      its unit
//   unstable N       the next N lines are unstable
//   junk N           the next N lines are no weight lines
//   mode M           stream, request or silent
//   drip MS          one byte every MS milliseconds (0: lines at once)
//   interval MS      between stream lines
//   burst N          N stream lines at once, now
//   flood MS         lines as fast as the peer takes them, for MS
//   unread W         wait, queue or drop: what the scale does while its
//                    peer takes nothing (see scale-sim --help)
//   pack RULE        how a converter packs its lines from now on (see
//                    scale-sim --help), or "off": each line alone
//   disconnect       closes the TCP connections (the scale is switched off)
//   reset            resets them
//   off              switched off: its TCP connections close and new ones
//                    are refused; a pseudo-terminal stays, silent
//   on               switched on again: it listens on its port and serves

#include <string>

namespace sim {

struct Command {
  enum Kind { Weight, Unit, Unstable, Junk, Mode, Drip, Interval, Burst, Flood, Unread, Pack, Disconnect, Reset, Off, On, Unknown };
  Kind kind = Unknown;
  std::string text;  // weight, unit, mode, unread, pack
  long number = 0;   // counts and milliseconds
  std::string why;   // Unknown: why the line is no command it can take
};

// Each line is taken or refused whole: a value out of range, a word that
// is not one of the command's, or a weight the scale's line cannot carry.
Command ParseCommand(const std::string& line);

}  // namespace sim
