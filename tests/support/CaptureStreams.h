#pragma once
// Redirects std::cout, std::cerr and std::clog into strings for the life of the object, so that
// tests can check the lines the code logs.
#include <iostream>
#include <sstream>
#include <string>

namespace vxtest {

class CaptureStreams {
 public:
  CaptureStreams()
      : out_(std::cout.rdbuf(out.rdbuf())), err_(std::cerr.rdbuf(err.rdbuf())), log_(std::clog.rdbuf(log.rdbuf())) {}
  ~CaptureStreams() { std::cout.rdbuf(out_), std::cerr.rdbuf(err_), std::clog.rdbuf(log_); }
  CaptureStreams(const CaptureStreams&) = delete;
  CaptureStreams& operator=(const CaptureStreams&) = delete;

  std::string all() const { return out.str() + err.str() + log.str(); }
  void clear() { out.str(""), err.str(""), log.str(""); }

  std::ostringstream out, err, log;

 private:
  std::streambuf *out_, *err_, *log_;
};

}  // namespace vxtest
