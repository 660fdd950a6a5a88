#include "support/text.h"

#include <clocale>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#if !defined(_WIN32)
#include <iconv.h>
#include <unistd.h>
#endif

namespace testing_support {

#if !defined(_WIN32)
std::string Cp1251ToUtf8(const std::string& text) {
  iconv_t cd = iconv_open("UTF-8", "CP1251");
  if (cd == reinterpret_cast<iconv_t>(-1)) return "<no iconv>";
  std::string out(text.size() * 3 + 1, '\0');
  char* in = const_cast<char*>(text.data());
  size_t inLeft = text.size();
  char* outPtr = out.data();
  size_t outLeft = out.size();
  iconv(cd, &in, &inLeft, &outPtr, &outLeft);
  iconv_close(cd);
  out.resize(out.size() - outLeft);
  return out;
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
