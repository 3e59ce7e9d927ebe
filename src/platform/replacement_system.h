// The steps of replacing a file that each system takes its own way, for
// replacement_file.cc only: posix.cc and windows.cc define them. Reasons are
// in UTF-8 without a line end.
#ifndef QUARVEL_PLATFORM_REPLACEMENT_SYSTEM_H_
#define QUARVEL_PLATFORM_REPLACEMENT_SYSTEM_H_

#include <optional>
#include <string>

namespace quarvel::replacement_system {

// The file to replace, as found before the temporary file is made.
struct Found {
  bool exists = false;
  unsigned permissions = 0;  // its permission bits, where the system has them
};

// Looks at `path`: the reason when it cannot be replaced (kNotARegularFile
// among them), else fills `found`.
std::optional<std::string> examine(const std::string& path, Found& found);
// Where the last name in `path` starts: 0 when it has no folder part.
std::size_t nameStart(const std::string& path);
// The running program's process number, in decimal.
std::string processNumber();
// The reason when temporary names that start with `prefix` cannot be used.
std::optional<std::string> refusePrefix(const std::string& prefix);

// While held, the signals that remove the temporary file wait (Linux; no-ops
// elsewhere). Not nested.
void holdSignals();
void releaseSignals();
// Gives the signals their removing handlers, and takes them back.
void installRemovingHandlers();
void restoreHandlers();
// The temporary file that a signal removes, and that there is none any more.
void markTemporary(const std::string& temporary);
void unmarkTemporary();

enum class Creation { kCreated, kNameTaken, kFailed };
// Creates `temporary` exclusively with the permissions of `found`; sets
// `descriptor`, or `reason` when it fails (the name taken included). Leaves
// nothing behind when it fails.
Creation create(const std::string& temporary, const Found& found, int& descriptor,
                std::string& reason);
// Flushes the file to the disk; the reason when that failed.
std::optional<std::string> syncToDisk(int descriptor);
// Closes it; the reason when that failed.
std::optional<std::string> close(int descriptor);
// Renames `temporary` over `path`; the reason when that failed.
std::optional<std::string> renameOver(const std::string& temporary, const std::string& path);
void remove(const std::string& temporary);

}  // namespace quarvel::replacement_system

#endif  // QUARVEL_PLATFORM_REPLACEMENT_SYSTEM_H_
