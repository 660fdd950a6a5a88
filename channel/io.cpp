#include "channel/io.h"

#include <cstring>

#include "channel/slot_table.h"
#include "channel/trace.h"
#include "platform/os.h"

namespace pesolan {
namespace {

constexpr uint32_t kPurgeIdleMs = 200;
constexpr uint32_t kPurgeAfterReadMs = 80;
constexpr uint32_t kStreamDetectMs = 300;
constexpr uint32_t kTxEmptyMs = 256;
constexpr uint32_t kSerialByteMs = 80;
constexpr uint32_t kTcpByteMs = 128;
constexpr uint32_t kSerialFirstReplyByteMs = 350;
constexpr uint32_t kTcpFirstReplyByteMs = 300;
constexpr uint32_t kReplySilenceMs = 80;
constexpr int kScratchSize = 4096;
constexpr int kTracedPurgeBytes = 64;  // the first of those the purge throws away
// What may already have been on its way when the channel was found empty,
// beyond the line's pace: on TCP one pack of a serial-to-network converter
// (the live deliveries measured need up to 180 bytes, a backlog a converter
// held for a second over 1000); on a serial line a character half across
// the wire and one in the UART, and a little for the clocks.
constexpr uint32_t kTcpPackAllowance = 256;
// A drain that threw away more than a pack looks for this long more.
constexpr uint32_t kBacklogQuietMs = 10;
constexpr uint32_t kSerialAllowance = 4;
// The scale behind a TCP channel sends over its own serial line: 9600 baud,
// ten bits a character.
constexpr uint32_t kTcpScaleCharUs = 1042;

// What an operation reads of its slot, once, at entry.
struct Channel {
  int32_t kind;
  os::SerialPort port;
  os::Socket socket;
  bool serial() const { return kind == Serial && port != nullptr; }
  bool tcp() const { return kind == Tcp && socket != os::kNoSocket; }
};

Channel ChannelOf(int index) {
  if (index < 0 || index >= kSlotCount) return {Channel_None, nullptr, os::kNoSocket};
  const DeviceSlot& slot = SlotTable[index];
  return {slot.channelKind, slot.comHandle, slot.socket};
}

// Every wait below blocks in the operating system until a byte comes (or
// the port can take a write, or the transmitter empties) or until its time
// limit passes, and then returns: no wait polls. Limits that end only when
// "more than" their milliseconds have passed wait one millisecond longer.

// A byte, waiting up to ms for it. A closed or failed connection is
// readable at once and for ever, yet gives nothing: the rest of the time is
// slept out, so that a caller waiting again does not spin.
bool ReceiveOne(os::Socket s, uint32_t ms, uint8_t* byte, bool* closed) {
  const uint32_t start = os::Tick();
  if (!os::SocketReadable(s, ms)) return false;
  if (os::SocketReceive(s, byte, 1) == 1) return true;
  *closed = true;
  os::Sleep(os::Left(start, ms));
  return false;
}

// Says once a reading that the scale closed the connection (or it broke):
// without it, the trace of a scale that hung up reads like a silent one.
void NoteClosed(int index) {
  bool& traced = SlotTable[index].reception.closedTraced;
  if (traced) return;
  traced = true;
  Trace(index, "the connection is closed: the scale hung up, or it broke");
}

// A look found this many bytes waiting, not yet taken: shown to the pace,
// and noted as an arrival when more came than before.
void Observed(Reception& r, uint32_t waiting) {
  r.pace.Observe(waiting, os::MicroTick());
  r.arrivals.Note(r.pace.Known(), os::Tick());
}

// The next byte taken, judged by the pace, and traced with its arrival.
ByteOrigin Taken(int index, Reception& r, uint8_t byte) {
  r.lastByte = byte;
  const ByteOrigin origin = r.pace.Take();
  uint32_t number = 0, tick = os::Tick();
  const bool seen = r.arrivals.Of(origin.sequence, &number, &tick);
  if (Tracing(index)) TraceReceived(index, byte, seen ? number : 0, tick);
  return origin;
}

// How many bytes the port has queued, each look shown to the pace.
bool LookSerial(int index, os::SerialPort port, uint32_t* queued) {
  if (!os::SerialQueued(port, queued)) return false;
  Observed(SlotTable[index].reception, *queued);
  return true;
}

// Waits up to ms for a byte to be queued on a port whose events include
// kEventRxChar, then tells how many are queued.
bool AwaitQueued(int index, os::SerialPort port, uint32_t ms, uint32_t* queued) {
  uint32_t events = 0;
  return os::SerialWaitEvent(port, ms, &events) && LookSerial(index, port, queued);
}

constexpr uint8_t kLineEnd = 0x0A;  // LF

// The channel was found empty: its pace is judged from now.
void StartPace(int index, bool tcp) {
  const ChannelSettings& s = SlotTable[index].settings;
  Reception& r = SlotTable[index].reception;
  const uint32_t charUs = tcp ? kTcpScaleCharUs : os::CharMicroseconds({s.baudRate, s.parity, s.byteSize, s.stopBits});
  r.pace.Start(os::MicroTick(), charUs, tcp ? kTcpPackAllowance : kSerialAllowance, r.lastByte == kLineEnd);
  r.arrivals.Clear();
}

// Throws away what the last reading took in and left; how many.
long ThrowAwayKept(Reception& r) {
  const long kept = r.intake.held();
  if (kept > 0) r.lastByte = r.intake.bytes[r.intake.count - 1];
  r.intake.clear();
  return kept;
}

// A look at what waits now, taken in and not yet read, or in the socket.
void LookTcp(int index, os::Socket s) {
  Reception& r = SlotTable[index].reception;
  uint32_t queued = 0;
  os::SocketQueued(s, &queued);
  Observed(r, static_cast<uint32_t>(r.intake.held()) + queued);
}

// TCP: the next byte, from what the purge's wait took in, else from the
// socket within ms. A byte that was not there at the last look is a new
// arrival: the pace looks at how much came with it. (Whether the reader has
// caught up it sees at each line's end, see LookAgain.)
bool TakeTcp(int index, os::Socket s, uint32_t ms, uint8_t* byte, ByteOrigin* origin) {
  Reception& r = SlotTable[index].reception;
  if (!r.intake.empty()) {
    *byte = r.intake.Take();
    *origin = Taken(index, r, *byte);
    return true;
  }
  bool closed = false;
  if (!ReceiveOne(s, ms, byte, &closed)) {
    if (closed) NoteClosed(index);
    return false;
  }
  if (!r.pace.Seen()) {
    uint32_t queued = 0;
    os::SocketQueued(s, &queued);
    Observed(r, 1 + queued);
  }
  *origin = Taken(index, r, *byte);
  return true;
}

// Serial: reads one of the bytes the last look found queued.
bool TakeSerial(int index, os::SerialPort port, uint8_t* byte, ByteOrigin* origin) {
  if (!os::SerialReadOne(port, byte)) return false;
  *origin = Taken(index, SlotTable[index].reception, *byte);
  return true;
}

// Throws away what the peer has sent until the first look that finds
// nothing, within the time left of limit ms from start. After more than a
// pack, a backlog was pouring in, and a sender that resumes once the reader
// has made room may have paused for a moment: the look waits until nothing
// has come for kBacklogQuietMs. The bytes thrown away, the first of them
// copied to first (kTracedPurgeBytes).
long DrainNow(int index, os::Socket s, uint32_t start, uint32_t limit, uint32_t* lastRead, uint8_t* first) {
  uint8_t scratch[kScratchSize];  // contents are thrown away
  long thrownAway = 0;
  int got = 0;
  auto quietFor = [&] {
    const uint32_t quiet = thrownAway > static_cast<long>(kTcpPackAllowance) ? kBacklogQuietMs : 0;
    const uint32_t left = os::Left(start, limit);
    const uint32_t wait = os::Left(*lastRead, quiet);
    return wait < left ? wait : left;
  };
  while (os::Since(start) < limit && os::SocketReadable(s, quietFor()) &&
         (got = os::SocketReceive(s, scratch, kScratchSize)) > 0) {
    *lastRead = os::Tick();
    SlotTable[index].reception.lastByte = scratch[got - 1];
    for (int i = 0; i < got && thrownAway + i < kTracedPurgeBytes; ++i) first[thrownAway + i] = scratch[i];
    thrownAway += got;
  }
  return thrownAway;
}

// Takes in what arrives for ms, each arrival as it comes, so that the pace
// sees when it came. What the intake cannot hold is beyond the pace, old:
// the oldest goes. Returns how many went.
long TakeInFor(int index, os::Socket s, uint32_t ms) {
  Reception& r = SlotTable[index].reception;
  uint8_t arrival[kScratchSize];
  long dropped = 0;
  const uint32_t start = os::Tick();
  for (uint32_t left; (left = os::Left(start, ms)) > 0 && os::SocketReadable(s, left);) {
    const int got = os::SocketReceive(s, arrival, kScratchSize);
    if (got <= 0) {  // closed: readable for ever, and nothing will come
      NoteClosed(index);
      os::Sleep(os::Left(start, ms));
      break;
    }
    Observed(r, static_cast<uint32_t>(r.intake.held() + got));
    const int gone = r.intake.Add(arrival, got);
    r.pace.Skip(static_cast<uint32_t>(gone));
    dropped += gone;
  }
  return dropped;
}

// Reads what the peer has sent and throws it away until the reader has
// caught up (a look finds nothing), then waits 80 ms after the last byte
// read (200 ms when nothing came) for the scale to show whether it streams.
// The pace is judged from the moment the reader caught up. What comes
// during the wait is taken in as it arrives and kept for the reads that
// follow, as if it had stayed queued. The whole purge ends within 200 ms
// even when the peer never pauses.
bool DrainTcp(int index, os::Socket s) {
  uint8_t first[kTracedPurgeBytes];
  Reception& r = SlotTable[index].reception;
  // What the last reading took in and left is what would otherwise still
  // wait in the socket: thrown away like it, and counted like it, so that a
  // scale read back to back gets the 80 ms wait after bytes, not the 200.
  // So is a reading that read ahead to a newer line.
  const long kept = ThrowAwayKept(r);
  const bool readAhead = r.readAhead;
  r.readAhead = r.closedTraced = false;
  const uint32_t start = os::Tick();
  uint32_t lastRead = start;
  const long drained = DrainNow(index, s, start, kPurgeIdleMs, &lastRead, first);
  StartPace(index, true);
  const long thrownAway = kept + drained;
  const bool found = thrownAway > 0 || readAhead;
  const uint32_t afterRead = found ? os::Left(lastRead, kPurgeAfterReadMs) : kPurgeIdleMs;
  const uint32_t left = os::Left(start, kPurgeIdleMs);
  const long dropped = TakeInFor(index, s, afterRead < left ? afterRead : left);
  if (thrownAway > 0) {
    Trace(index, "purge: %ld bytes thrown away", thrownAway);
    const int traced = drained < kTracedPurgeBytes ? static_cast<int>(drained) : kTracedPurgeBytes;
    if (traced > 0) TraceBytes(index, "purged", first, traced);
  }
  if (dropped > 0) Trace(index, "purge: %ld bytes came during the wait beyond the line's pace: thrown away", dropped);
  return true;
}

// Writes, then waits for the transmit-empty event.
bool SerialSendOnce(os::SerialPort port, const uint8_t* bytes, int count) {
  if (!os::SetSerialEvents(port, os::kEventTxEmpty) || !os::SerialWrite(port, bytes, static_cast<uint32_t>(count)))
    return false;
  const uint32_t start = os::Tick();
  uint32_t events = 0;
  if (!os::SerialWaitEvent(port, kTxEmptyMs, &events)) return false;
  for (;;) {
    if (events & os::kEventTxEmpty) return true;
    if (os::Since(start) >= kTxEmptyMs) return false;
    if (!os::SerialWaitEvent(port, os::Left(start, kTxEmptyMs), &events)) return false;
  }
}

bool TcpSend(int index, os::Socket s, const uint8_t* bytes, int count) {
  uint8_t staging[kRequestSize];
  std::memcpy(staging, bytes, static_cast<size_t>(count));
  os::SocketWritable(s, 0);  // the answer does not matter
  if (os::SocketSend(s, staging, count) < 0) {
    os::SocketClose(s);
    os::NetCleanup();
    SlotTable[index].socket = os::kNoSocket;
    return false;
  }
  return true;
}

// A reply's origin: old when any of its bytes was; behind its last byte.
void Join(ByteOrigin* reply, const ByteOrigin& byte) {
  const bool old = reply->old || byte.old;
  *reply = byte;
  reply->old = old;
}

// Gathers reply bytes into held; returns how many came (0..22).
int GatherSerial(int index, os::SerialPort port, uint8_t* held, ByteOrigin* origin) {
  int n = 0;
  uint32_t queued = 0;
  if (!os::SetSerialEvents(port, os::kEventRxChar)) return 0;
  const uint32_t start = os::Tick();
  uint32_t last = start;
  if (!LookSerial(index, port, &queued)) return 0;
  for (;;) {
    uint32_t wait = 0;
    if (queued > 0) {
      ByteOrigin byte;
      if (!TakeSerial(index, port, &held[n], &byte)) return n;
      Join(origin, byte);
      if (++n == kReplySize) return n;
      last = os::Tick();
    } else if (n == 0 ? os::Since(start) > kSerialFirstReplyByteMs : os::Since(last) >= kReplySilenceMs) {
      return n;
    } else {
      wait = n == 0 ? os::Left(start, kSerialFirstReplyByteMs + 1) : os::Left(last, kReplySilenceMs);
    }
    if (!AwaitQueued(index, port, wait, &queued)) return n;
  }
}

int GatherTcp(int index, os::Socket s, uint8_t* held, ByteOrigin* origin) {
  int n = 0;
  const uint32_t start = os::Tick();
  uint32_t last = start;
  for (;;) {
    const uint32_t wait = n == 0 ? os::Left(start, kTcpFirstReplyByteMs) : os::Left(last, kReplySilenceMs);
    ByteOrigin byte;
    if (TakeTcp(index, s, wait, &held[n], &byte)) {
      Join(origin, byte);
      if (++n == kReplySize) return n;
      last = os::Tick();
      continue;
    }
    if (n == 0 ? os::Since(start) >= kTcpFirstReplyByteMs : os::Since(last) >= kReplySilenceMs) return n;
  }
}

// One byte within the channel's limit; byte is 0 when none came.
bool ReadOneByte(int index, uint8_t* byte, ByteOrigin* origin) {
  *byte = 0;
  const Channel ch = ChannelOf(index);
  if (ch.tcp()) {
    const uint32_t start = os::Tick();
    for (;;) {
      if (TakeTcp(index, ch.socket, os::Left(start, kTcpByteMs), byte, origin)) return true;
      *byte = 0;
      if (os::Since(start) >= kTcpByteMs) return false;
    }
  }
  if (!ch.serial() || !os::SetSerialEvents(ch.port, os::kEventRxChar)) return false;
  uint32_t queued = 0;
  const uint32_t start = os::Tick();
  if (!LookSerial(index, ch.port, &queued)) return false;
  for (;;) {
    if (queued > 0 && TakeSerial(index, ch.port, byte, origin)) return true;
    *byte = 0;
    if (os::Since(start) > kSerialByteMs) return false;
    if (!AwaitQueued(index, ch.port, os::Left(start, kSerialByteMs + 1), &queued)) return false;
  }
}

// Empties the port's input and starts judging its pace afresh.
bool PurgeSerialInput(int index, os::SerialPort port, const char* what) {
  uint32_t queued = 0;
  if (os::SerialQueued(port, &queued) && queued > 0) Trace(index, "%s: %u bytes thrown away", what, queued);
  const bool purged = os::PurgeSerial(port);
  SlotTable[index].reception.lastByte = 0;  // what went is not known
  StartPace(index, false);
  return purged;
}

}  // namespace

int ChannelIndex(const DeviceHandle& handle) { return FindSlot(handle.key); }

int32_t ChannelKindAt(int index) { return ChannelOf(index).kind; }

bool PurgeChannel(int index) {
  const Channel ch = ChannelOf(index);
  if (ch.serial()) return PurgeSerialInput(index, ch.port, "purge");
  if (ch.tcp()) return DrainTcp(index, ch.socket);
  Trace(index, "the channel is not open");
  return false;
}

bool DiscardPending(int index) {
  const Channel ch = ChannelOf(index);
  if (ch.serial()) return PurgeSerialInput(index, ch.port, "unasked");
  if (!ch.tcp()) return false;
  uint8_t first[kTracedPurgeBytes];
  uint32_t lastRead = 0;
  const long kept = ThrowAwayKept(SlotTable[index].reception);
  const long thrownAway = kept + DrainNow(index, ch.socket, os::Tick(), kPurgeIdleMs, &lastRead, first);
  StartPace(index, true);
  if (thrownAway > 0) Trace(index, "unasked: %ld bytes thrown away", thrownAway);
  return true;
}

bool LookAgain(int index) {
  const Channel ch = ChannelOf(index);
  uint32_t queued = 0;
  if (ch.tcp()) {
    LookTcp(index, ch.socket);
    return true;
  }
  return ch.serial() && LookSerial(index, ch.port, &queued);
}

void JudgeByte(int index, ByteOrigin* origin) {
  if (index >= 0 && index < kSlotCount) SlotTable[index].reception.pace.Judge(origin);
}

void NoteReadAhead(int index) {
  if (index >= 0 && index < kSlotCount) SlotTable[index].reception.readAhead = true;
}

bool WaitForData(int index, Detected* detected) {
  if (!PurgeChannel(index)) return false;
  const Channel ch = ChannelOf(index);
  if (ch.tcp()) {
    Detected took;
    took.taken = TakeTcp(index, ch.socket, 0, &took.byte, &took.origin);
    if (detected != nullptr) *detected = took;
    return took.taken;
  }
  uint32_t queued = 0;
  if (!os::SetSerialEvents(ch.port, os::kEventRxChar)) return false;
  const uint32_t start = os::Tick();
  if (!LookSerial(index, ch.port, &queued)) return false;
  for (;;) {
    if (queued > 0) {
      Trace(index, "stream: a byte came unasked after %u ms", static_cast<unsigned>(os::Since(start)));
      return true;  // the bytes stay queued for the reads
    }
    if (os::Since(start) >= kStreamDetectMs) return false;
    if (!AwaitQueued(index, ch.port, os::Left(start, kStreamDetectMs), &queued)) return false;
  }
}

bool SendBytes(int index, const uint8_t* bytes, int count) {
  if (count < 1 || count > kRequestSize) return false;
  const Channel ch = ChannelOf(index);
  bool sent = false;
  if (ch.serial()) {
    sent = SerialSendOnce(ch.port, bytes, count);
  } else if (ch.tcp()) {
    sent = TcpSend(index, ch.socket, bytes, count);
  }
  if (sent) {
    TraceBytes(index, "sent", bytes, count);
  } else {
    Trace(index, ch.serial() ? "send failed, or the transmitter did not empty within 256 ms" : "send failed");
  }
  return sent;
}

void Pause(int index, uint32_t ms) {
  const uint32_t start = os::Tick();
  const Channel ch = ChannelOf(index);
  if (ch.tcp() && Tracing(index) && os::SocketReadable(ch.socket, ms)) {
    Reception& r = SlotTable[index].reception;
    uint32_t queued = 0;
    os::SocketQueued(ch.socket, &queued);
    r.arrivals.Note(r.pace.Taken() + static_cast<uint32_t>(r.intake.held()) + queued, os::Tick());
  }
  os::Sleep(os::Left(start, ms));
}

bool ReadByte(int index, uint8_t* byte, ByteOrigin* origin) {
  ByteOrigin ignored;
  const bool got = ReadOneByte(index, byte, origin != nullptr ? origin : &ignored);
  if (!got) Trace(index, "no byte within %u ms", static_cast<unsigned>(ChannelOf(index).tcp() ? kTcpByteMs : kSerialByteMs));
  return got;
}

bool ReadReply(int index, uint8_t* buffer, int* count, ByteOrigin* origin) {
  const Channel ch = ChannelOf(index);
  uint8_t held[kReplySize] = {};
  int n = 0;
  ByteOrigin reply;
  if (ch.serial()) {
    n = GatherSerial(index, ch.port, held, &reply);
  } else if (ch.tcp()) {
    n = GatherTcp(index, ch.socket, held, &reply);
  }
  if (origin != nullptr) *origin = reply;
  if (n == kReplySize) {
    Trace(index, "reply of %d bytes, the most a reply takes", n);
  } else if (n > 0) {
    Trace(index, "reply of %d byte%s, ended by %u ms of silence", n, n == 1 ? "" : "s",
          static_cast<unsigned>(kReplySilenceMs));
  } else {
    Trace(index, "no reply within %u ms",
          static_cast<unsigned>(ch.serial() ? kSerialFirstReplyByteMs : kTcpFirstReplyByteMs));
  }
  if (n == 0) return false;
  std::memcpy(buffer, held, static_cast<size_t>(n));
  *count = n;
  return true;
}

}  // namespace pesolan
