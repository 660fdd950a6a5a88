#include "sent_log.h"

#include <algorithm>
#include <chrono>

namespace sim {
namespace {

// When the line just completed was made: the first held moment, or, when
// nothing held it (no moment, or kMadeWhenWritten), `written`.
long long TakeMade(LineOut& line, long long written) {
  if (line.made.empty()) return written;
  const long long at = line.made.front().first;
  if (--line.made.front().second == 0) line.made.pop_front();
  return at == kMadeWhenWritten ? written : at;
}

}  // namespace

SentLog::SentLog(const std::string& path) {
  if (!path.empty()) file_ = std::fopen(path.c_str(), "a");
}

SentLog::~SentLog() {
  if (file_ != nullptr) std::fclose(file_);
}

long long SentLog::Now() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void SentLog::Record(const std::string& text, long long began, long long ended, long long made) {
  std::fprintf(file_, "%lld %lld %lld %s\n", began, ended, made, text.c_str());
}

void SentLog::Made(LineOut& line, const char* bytes, size_t count, long long at) const {
  if (file_ == nullptr) return;
  const size_t lines = static_cast<size_t>(std::count(bytes, bytes + count, '\n'));
  if (lines == 0) return;
  if (!line.made.empty() && line.made.back().first == at) {
    line.made.back().second += lines;
  } else {
    line.made.emplace_back(at, lines);
  }
}

void SentLog::Entered(LineOut& line, const char* bytes, size_t count, long long at) const {
  size_t lines = static_cast<size_t>(std::count(bytes, bytes + count, '\n'));
  for (auto run = line.made.begin(); run != line.made.end() && lines > 0; ++run) {
    if (run->first != kMadeWhenWritten) continue;  // made, or entered, already
    if (run->second > lines) {  // the rest of the run enters later
      run = line.made.insert(run, {kMadeWhenWritten, lines});
      (run + 1)->second -= lines;
    }
    run->first = at;
    lines -= run->second;
  }
}

void SentLog::Wrote(LineOut& line, const char* bytes, size_t count, long long began) {
  if (file_ == nullptr) return;
  std::string run;  // the text of the run of lines being recorded
  long long runBegan = 0, runMade = 0;
  for (size_t i = 0; i < count; ++i) {
    const char c = bytes[i];
    if (line.text.empty()) line.began = began;
    if (c == '\n' && !line.text.empty() && line.text.back() == '\r') {
      line.text.pop_back();
      const long long made = TakeMade(line, began);
      if (line.text != run) {
        if (!run.empty()) Record(run, runBegan, began, runMade);
        run = line.text;
        runBegan = line.began;
      }
      runMade = std::max(runMade, made);
      line.text.clear();
    } else if (c == '\n') {
      TakeMade(line, began);  // a line end all the same
      line.text.clear();
    } else if (static_cast<unsigned char>(c) < 0x20 && c != '\r') {
      line.text.clear();  // ACK, NAK: not part of a line
    } else if (line.text.size() < 256) {
      line.text += c;
    }
  }
  if (!run.empty()) Record(run, runBegan, began, runMade);
  std::fflush(file_);
}

void SentLog::Lost(LineOut& line, const char* bytes, size_t count) const {
  for (size_t i = 0; i < count; ++i) {
    if (bytes[i] == '\n') TakeMade(line, 0);
  }
  line.text.clear();  // the line in progress is broken
}

void SentLog::Abandoned(LineOut& line) {
  line.made.clear();
  if (!line.text.empty() && line.text.back() == '\r') line.text.pop_back();  // the LF did not follow
  if (file_ != nullptr && !line.text.empty()) {
    const long long now = Now();
    Record(line.text, line.began, now, now);
    std::fflush(file_);
  }
  line.text.clear();
}

void SentLog::Note(const std::string& what) {
  if (file_ == nullptr) return;
  const long long now = Now();
  std::fprintf(file_, "%lld %lld %lld # %s\n", now, now, now, what.c_str());
  std::fflush(file_);
}

}  // namespace sim
