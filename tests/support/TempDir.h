#pragma once
// A fresh directory under /tmp for one test, removed with all it holds at the end; its name is
// unique, so copies of a suite run side by side never share it.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

namespace vxtest {

class TempDir {
 public:
  // prefix: the start of the directory's name, e.g. "vx_hourly".
  explicit TempDir(const std::string& prefix) : path_("/tmp/" + prefix + "_XXXXXX") {
    if (mkdtemp(path_.data()) == nullptr) ADD_FAILURE() << "cannot make a directory like " << path_, path_.clear();
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// The whole content of a file; "" when it cannot be read.
inline std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace vxtest
