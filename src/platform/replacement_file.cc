#include "platform/replacement_file.h"

#include <utility>

#include "platform/replacement_system.h"

namespace quarvel {
namespace {

namespace os = replacement_system;

// Holds the removing signals back for the life of the object, so that a
// temporary file is never created, renamed or removed without the handlers
// knowing.
class SignalsHeldBack {
 public:
  SignalsHeldBack() { os::holdSignals(); }
  ~SignalsHeldBack() { os::releaseSignals(); }
  SignalsHeldBack(const SignalsHeldBack&) = delete;
  SignalsHeldBack& operator=(const SignalsHeldBack&) = delete;
};

}  // namespace

std::optional<std::string> beginReplacement(const std::string& path, ReplacementFile& file) {
  os::Found found;
  if (auto reason = os::examine(path, found)) return reason;
  // Beside the file, so that the rename stays within one file system. The
  // name is guessable; exclusive creation makes that harmless (it fails on
  // anything already there, a planted link included) and another attempt
  // follows.
  const std::size_t nameStart = os::nameStart(path);
  const std::string prefix = path.substr(0, nameStart) + "." + path.substr(nameStart) +
                             ".quarvel-" + os::processNumber() + "-";
  if (auto reason = os::refusePrefix(prefix)) return reason;
  const SignalsHeldBack heldBack;
  os::installRemovingHandlers();
  constexpr int kAttempts = 100;
  for (int attempt = 0;; ++attempt) {
    std::string temporary = prefix + std::to_string(attempt);
    int descriptor = -1;
    std::string reason;
    const auto creation = os::create(temporary, found, descriptor, reason);
    if (creation == os::Creation::kNameTaken && attempt + 1 < kAttempts) continue;
    if (creation != os::Creation::kCreated) {
      os::restoreHandlers();
      return reason;
    }
    os::markTemporary(temporary);
    file = ReplacementFile{descriptor, path, std::move(temporary)};
    return std::nullopt;
  }
}

std::optional<std::string> endReplacement(ReplacementFile& file, Replacement how) {
  const bool commit = how == Replacement::kCommit;
  // Flushed before the rename: after a crash the file holds either its old
  // bytes or all the new ones, never a renamed empty file.
  std::optional<std::string> failure;
  if (commit) failure = os::syncToDisk(file.descriptor);
  auto closing = os::close(file.descriptor);
  if (commit && !failure) failure = std::move(closing);
  file.descriptor = -1;
  // A signal that comes now waits until the file is renamed or removed and
  // the dispositions are back as they were.
  const SignalsHeldBack heldBack;
  const auto ended = [] {
    os::unmarkTemporary();
    os::restoreHandlers();
  };
  if (commit && !failure) {
    failure = os::renameOver(file.temporary, file.path);
    if (!failure) {
      ended();
      return std::nullopt;
    }
  }
  os::remove(file.temporary);
  ended();
  return failure;
}

}  // namespace quarvel
