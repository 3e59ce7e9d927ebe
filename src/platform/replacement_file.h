// The output file of -o, replaced whole or not at all: the bytes go to a
// temporary file of its own beside it, which takes its place only when the
// run succeeded. replacement_file.cc holds what every system shares; the
// system's own steps are in posix.cc and windows.cc (replacement_system.h).
#ifndef QUARVEL_PLATFORM_REPLACEMENT_FILE_H_
#define QUARVEL_PLATFORM_REPLACEMENT_FILE_H_

#include <optional>
#include <string>

namespace quarvel {

struct ReplacementFile {
  int descriptor = -1;    // the C runtime's descriptor of the temporary file
  std::string path;       // the file to replace (UTF-8)
  std::string temporary;  // the temporary file's name (UTF-8)
};

// The reason given when the file to replace exists but is not a regular file
// (a directory, a device, a link): it is never replaced.
inline constexpr const char kNotARegularFile[] = "not a regular file";

// Creates the temporary file for replacing `path` (UTF-8), exclusively and
// under a name of its own beside `path`, and fills `file`. It gets the
// permission bits of `path` when that exists, and 0666 less the umask
// otherwise (on Windows the folder's defaults). Returns the reason, in UTF-8
// without a line end, when it cannot be created; nothing is left behind then.
// On Linux, until endReplacement, SIGINT, SIGTERM, SIGHUP and SIGPIPE (those
// not ignored) remove the temporary file and then end the program by the
// same signal; one replacement at a time. Throws std::bad_alloc when memory
// runs out (for the names).
std::optional<std::string> beginReplacement(const std::string& path, ReplacementFile& file);

enum class Replacement { kCommit, kDiscard };

// Ends what beginReplacement began. kCommit flushes the temporary file to
// the disk, closes it and renames it over `path` (on Windows, replacing it);
// kDiscard closes and removes it. When committing fails, the temporary file
// is removed, `path` is as it was, and the reason is returned. Either way the
// signals' dispositions are back as they were before beginReplacement.
// Throws std::bad_alloc only while forming the reason.
std::optional<std::string> endReplacement(ReplacementFile& file, Replacement how);

}  // namespace quarvel

#endif  // QUARVEL_PLATFORM_REPLACEMENT_FILE_H_
