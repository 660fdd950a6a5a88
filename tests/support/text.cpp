#include "support/text.h"

#include <clocale>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#if !defined(_WIN32)
#include <dirent.h>
#include <unistd.h>
#endif

namespace testing_support {

// By table, not iconv: the i386 suites run where the system has no
// Windows-1251 converter. The driver's messages use ASCII and Russian
// letters only.
std::string Cp1251ToUtf8(const std::string& text) {
  std::string out;
  for (const unsigned char c : text) {
    unsigned code = c;
    if (c >= 0xC0) {
      code = 0x0410 + (c - 0xC0u);  // А..я
    } else if (c == 0xA8 || c == 0xB8) {
      code = c == 0xA8 ? 0x0401 : 0x0451;  // Ё, ё
    } else if (c >= 0x80) {
      code = '?';
    }
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return out;
}

#if !defined(_WIN32)
int OpenDescriptors() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (readdir(d) != nullptr) ++n;
    closedir(d);
  }
  return n;
}

TraceCapture::TraceCapture() {
  char path[] = "/tmp/pesolan-test-trace.XXXXXX";
  const int fd = mkstemp(path);
  if (fd >= 0) close(fd);
  path_ = path;
  setenv("PESOLAN_TRACE", path_.c_str(), 1);
}

TraceCapture::~TraceCapture() {
  unsetenv("PESOLAN_TRACE");
  std::remove(path_.c_str());
}

std::string TraceCapture::Text() const {
  std::ifstream in(path_);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void TraceCapture::Clear() const { std::ofstream(path_, std::ios::trunc); }
#endif

ScopedLocale::ScopedLocale(const char* name) : ok_(std::setlocale(LC_ALL, name) != nullptr) {}
ScopedLocale::~ScopedLocale() { std::setlocale(LC_ALL, "C"); }

}  // namespace testing_support
