#include "foundation/HourlyLog.h"

#include <sys/time.h>

#include <cstdio>
#include <cstring>
#include <ctime>

#include "foundation/Mux.h"

namespace {
constexpr std::streamsize kPutArea = 16;
constexpr std::size_t kMaxPath = 256;  // path with its terminating zero
}  // namespace

LogFileStreamBuf::LogFileStreamBuf(const std::string& directory)
    : file_(new std::basic_filebuf<char>), directory_(directory) {
  setbuf(new char[kPutArea], kPutArea);
  NewFile();
  mid_line_ = false;
}

LogFileStreamBuf::~LogFileStreamBuf() {
  delete[] put_area_;
  delete file_;
}

void LogFileStreamBuf::NewFile() {
  struct ::timeval tv;
  Mux::mux_gettimeofday(&tv);
  time_t secs = tv.tv_sec;
  struct tm t;
  if (!::localtime_r(&secs, &t)) return;
  open_for(t);
}

void LogFileStreamBuf::open_for(const struct tm& t) {
  file_->close();
  hour_ = t.tm_hour;
  day_ = t.tm_year * 1000 + t.tm_yday;
  // Appending keeps the hour's earlier lines when the daemon restarts within the hour.
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y_%m_%d-%H", &t);
  char name[kMaxPath];
  int n = std::snprintf(name, sizeof name, "%s/%s.log", directory_.c_str(), stamp);
  if (n < 0 || static_cast<std::size_t>(n) >= sizeof name) {
    path_.clear();  // a directory name this long is not supported: lines are dropped
    return;
  }
  path_ = name;
  file_->open(name, std::ios::out | std::ios::app | std::ios::binary);
}

std::basic_streambuf<char>* LogFileStreamBuf::setbuf(char* buffer, std::streamsize size) {
  if (size < 2) return this;
  sync();
  delete[] put_area_;
  put_area_ = buffer;
  setp(buffer, buffer + size);
  return this;
}

LogFileStreamBuf::int_type LogFileStreamBuf::overflow(int_type c) {
  sync();
  if (traits_type::eq_int_type(c, traits_type::eof())) return 0;
  return sputc(traits_type::to_char_type(c));
}

int LogFileStreamBuf::sync() {
  if (!pbase()) return 0;
  const char* p = pbase();
  const char* end = pptr();
  auto write = [this](const char* from, const char* to) {
    if (file_->is_open()) file_->sputn(from, to - from);
  };

  if (mid_line_ && p < end) {
    const char* nl = static_cast<const char*>(std::memchr(p, '\n', end - p));
    if (!nl) {
      write(p, end);
      file_->pubsync();
      setp(pbase(), epptr());
      return 0;
    }
    write(p, nl + 1);
    mid_line_ = false;
    p = nl + 1;
  }

  if (p < end) {
    struct ::timeval tv;
    Mux::mux_gettimeofday(&tv);
    time_t secs = tv.tv_sec;
    struct tm t;
    if (::localtime_r(&secs, &t)) {
      if (t.tm_hour != hour_ || t.tm_year * 1000 + t.tm_yday != day_) open_for(t);
    } else {
      std::memset(&t, 0, sizeof t);
    }
    char prefix[32];
    int plen = std::snprintf(prefix, sizeof prefix, "%02d:%02d:%05ld: ", t.tm_min, t.tm_sec,
                             static_cast<long>(tv.tv_usec));
    if (plen < 0) plen = 0;
    if (plen >= static_cast<int>(sizeof prefix)) plen = sizeof prefix - 1;

    while (p < end) {
      write(prefix, prefix + plen);
      const char* nl = static_cast<const char*>(std::memchr(p, '\n', end - p));
      if (nl) {
        write(p, nl + 1);
        p = nl + 1;
      } else {
        write(p, end);
        mid_line_ = true;
        break;
      }
    }
  }
  if (file_->is_open()) file_->pubsync();
  setp(pbase(), epptr());
  return 0;
}
