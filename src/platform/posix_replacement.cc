// The file calls of -o that POSIX systems share: the program on Linux and
// the Node command of the web build, whose files are the machine's own.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/file_input.h"
#include "platform/replacement_file.h"
#include "platform/replacement_system.h"

namespace quarvel {
namespace replacement_system {

std::optional<std::string> examine(const std::string& path, Found& found) {
  // lstat, not stat: a link is not followed, so that renaming over it
  // cannot replace what it points at behind the user's back.
  struct stat existing {};
  found.exists = ::lstat(path.c_str(), &existing) == 0;
  if (!found.exists && errno != ENOENT) return systemErrorText(errno);
  if (found.exists && !S_ISREG(existing.st_mode)) return std::string(kNotARegularFile);
  found.permissions = existing.st_mode & 0777;
  return std::nullopt;
}

std::size_t nameStart(const std::string& path) { return path.rfind('/') + 1; }

Creation create(const std::string& temporary, const Found& found, int& descriptor,
                std::string& reason) {
  // 0666: the kernel takes the umask off, as for any new file.
  descriptor =
      ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (descriptor < 0) {
    const int error = errno;
    reason = systemErrorText(error);
    return error == EEXIST ? Creation::kNameTaken : Creation::kFailed;
  }
  if (found.exists && ::fchmod(descriptor, found.permissions) != 0) {
    const int error = errno;
    ::close(descriptor);
    ::unlink(temporary.c_str());
    descriptor = -1;
    reason = systemErrorText(error);
    return Creation::kFailed;
  }
  return Creation::kCreated;
}

std::optional<std::string> syncToDisk(int descriptor) {
  if (::fsync(descriptor) != 0) return systemErrorText(errno);
  return std::nullopt;
}

std::optional<std::string> close(int descriptor) {
  if (::close(descriptor) != 0) return systemErrorText(errno);
  return std::nullopt;
}

std::optional<std::string> renameOver(const std::string& temporary, const std::string& path) {
  if (::rename(temporary.c_str(), path.c_str()) != 0) return systemErrorText(errno);
  return std::nullopt;
}

void remove(const std::string& temporary) { ::unlink(temporary.c_str()); }

}  // namespace replacement_system
}  // namespace quarvel
