#include "monitoring/StatusFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace StatusFiles {

bool IsSafeComponent(std::string_view text) {
  if (text.empty() || text.size() > 255 || text == "." || text == "..") return false;
  return text.find('/') == std::string_view::npos && text.find('\0') == std::string_view::npos;
}

int WriteAtomic(const std::string& path, std::string_view content) {
  // A fresh name made exclusively in the same folder: whatever a set command has put in the
  // folder (a file, a folder, a pipe, a link), the write never opens, truncates or removes it.
  const size_t slash = path.rfind('/');
  std::string tmp = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + kTempPattern;
  const int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
  if (fd < 0) return errno;
  int error = ::fchmod(fd, 0644) == 0 ? 0 : errno;
  for (size_t done = 0; done < content.size() && !error;) {
    const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n > 0) done += static_cast<size_t>(n);
    else if (n < 0 && errno != EINTR) error = errno;
  }
  if (::close(fd) != 0 && !error) error = errno;
  if (!error && ::rename(tmp.c_str(), path.c_str()) != 0) error = errno;
  if (error) ::unlink(tmp.c_str());
  return error;
}

int MakeDir(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return 0;
  if (::mkdir(path.c_str(), kDirMode) != 0) return errno;
  // The mode whatever the umask: other processes on the board read these folders.
  ::chmod(path.c_str(), kDirMode);
  return 0;
}

void ClearDir(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  DIR* dir = ::fdopendir(fd);
  if (!dir) {
    ::close(fd);
    return;
  }
  while (dirent* e = ::readdir(dir)) {
    const std::string_view name = e->d_name;
    if (name == "." || name == "..") continue;
    struct stat st;
    if (::fstatat(::dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    // A folder goes only when empty: other processes keep their own files in these folders.
    ::unlinkat(::dirfd(dir), e->d_name, S_ISDIR(st.st_mode) ? AT_REMOVEDIR : 0);
  }
  ::closedir(dir);
}

}  // namespace StatusFiles
