#include "foundation/Paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace Paths {

namespace {

const char* const kRootVariable = "VOXRELAY_ROOT";

// The working directory, or "" when it cannot be told (it was removed, or is too long).
std::string working_directory() {
  std::vector<char> buffer(256);
  while (buffer.size() <= 65536) {
    if (::getcwd(buffer.data(), buffer.size())) return buffer.data();
    if (errno != ERANGE) return std::string();
    buffer.resize(buffer.size() * 2);
  }
  return std::string();
}

}  // namespace

std::string root() {
  const char* r = std::getenv(kRootVariable);
  if (!r) return std::string();
  std::string s(r);
  while (!s.empty() && s.back() == '/') s.pop_back();
  return s;
}

std::string rooted(const std::string& absolute) {
  std::string r = root();
  if (r.empty()) return absolute;
  if (!absolute.empty() && absolute.front() != '/') return r + "/" + absolute;
  return r + absolute;
}

std::string absolute(const std::string& path, const std::string& cwd) {
  const std::string joined = !path.empty() && path.front() == '/' ? path : cwd + "/" + path;
  std::string out;
  std::size_t begin = 0;
  while (begin < joined.size()) {
    std::size_t end = joined.find('/', begin);
    if (end == std::string::npos) end = joined.size();
    const std::size_t n = end - begin;
    if (n > 0 && !(n == 1 && joined[begin] == '.')) {
      out += '/';
      out.append(joined, begin, n);
    }
    begin = end + 1;
  }
  return out.empty() ? "/" : out;
}

bool settle_root(std::string& error) {
  const std::string given = root();
  if (given.empty()) return true;
  std::string settled = given;
  if (given.front() != '/') {
    const std::string cwd = working_directory();
    if (cwd.empty()) {
      error = "path root \"" + given + "\": the working directory is unknown (" + std::strerror(errno) + ")";
      return false;
    }
    settled = absolute(given, cwd);
  }
  // The trailing slash asks for a directory, symbolic links followed.
  struct stat st;
  if (::stat((settled + "/").c_str(), &st) != 0 || ::access((settled + "/").c_str(), X_OK) != 0) {
    error = "path root \"" + settled + "\": " + std::strerror(errno);
    return false;
  }
  if (settled != given && ::setenv(kRootVariable, settled.c_str(), 1) != 0) {
    error = "path root \"" + settled + "\": " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace Paths
