#pragma once
// A fresh directory under /tmp for one test, removed with all it holds at the end.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace vxtest {

class TempDir {
 public:
  // prefix: the start of the directory's name, e.g. "vx_hourly".
  explicit TempDir(const std::string& prefix) {
    std::string pattern = "/tmp/" + prefix + "_XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr)
      path_ = pattern;
    else
      ADD_FAILURE() << "cannot make a directory like " << pattern;
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

}  // namespace vxtest
