#include "test_support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <thread>
#include <utility>

namespace quarvel::testing {
namespace {

class Pipe {
 public:
  Pipe() {
    if (pipe2(fds_, O_CLOEXEC) != 0) throw std::runtime_error(std::strerror(errno));
  }
  ~Pipe() {
    closeRead();
    closeWrite();
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;

  int readEnd() const { return fds_[0]; }
  int writeEnd() const { return fds_[1]; }
  void closeRead() { closeOne(fds_[0]); }
  // The write end, no longer closed by this Pipe.
  int releaseWrite() { return std::exchange(fds_[1], -1); }
  void closeWrite() { closeOne(fds_[1]); }

 private:
  static void closeOne(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
  int fds_[2] = {-1, -1};
};

// A pseudo-terminal for the child's standard output, in raw mode so that
// the bytes arrive as written (no LF to CR LF).
class Terminal {
 public:
  Terminal() {
    termios raw{};
    cfmakeraw(&raw);
    if (openpty(&master_, &slave_, nullptr, &raw, nullptr) != 0) {
      throw std::runtime_error(std::string("openpty: ") + std::strerror(errno));
    }
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    fcntl(slave_, F_SETFD, FD_CLOEXEC);
  }
  ~Terminal() {
    closeSlave();
    close(master_);
  }
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  int master() const { return master_; }
  int slave() const { return slave_; }
  void closeSlave() {
    if (slave_ >= 0) close(slave_);
    slave_ = -1;
  }

 private:
  int master_ = -1;
  int slave_ = -1;
};

// What the child does between fork and exec. The test process may have
// threads (an HTTP server), so only async-signal-safe calls are made here.
struct ChildSetup {
  const char* program;
  char* const* argv;
  char* const* envp;
  int inputFd;  // the pipe for kBytes, or -1
  const char* inputPath;
  StandardOutput output;
  const char* outputPath;
  int outputFd;  // the pipe or terminal for kCaptured and kTerminal
  int errorFd;
  const char* workingDirectory;  // nullptr: stay
  unsigned long long addressSpaceLimit;
  int statusFd;  // gets errno when the child cannot be started
};

// Makes `fd` the descriptor `target`, kept open across exec.
bool moveTo(int fd, int target) {
  if (fd < 0) return false;
  if (fd == target) return fcntl(fd, F_SETFD, 0) == 0;
  return dup2(fd, target) == target;
}

[[noreturn]] void startChild(const ChildSetup& setup) {
  bool ready =
      moveTo(setup.inputFd >= 0 ? setup.inputFd : open(setup.inputPath, O_RDONLY | O_CLOEXEC), 0);
  switch (setup.output) {
    case StandardOutput::kCaptured:
    case StandardOutput::kTerminal:
      ready = ready && moveTo(setup.outputFd, 1);
      break;
    case StandardOutput::kFile:
      ready = ready &&
              moveTo(open(setup.outputPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644), 1);
      break;
    case StandardOutput::kClosed:
      close(1);
      break;
  }
  ready = ready && moveTo(setup.errorFd, 2);
  if (ready && setup.addressSpaceLimit != 0) {
    const rlimit limit{setup.addressSpaceLimit, setup.addressSpaceLimit};
    ready = setrlimit(RLIMIT_AS, &limit) == 0;
  }
  if (ready && setup.workingDirectory != nullptr) ready = chdir(setup.workingDirectory) == 0;
  if (ready) execve(setup.program, setup.argv, setup.envp);
  const int error = errno;
  [[maybe_unused]] const ssize_t written = write(setup.statusFd, &error, sizeof error);
  _exit(127);
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> result;
  for (std::string& s : strings) result.push_back(s.data());
  result.push_back(nullptr);
  return result;
}

// Reads both pipes until the child has closed them or the deadline passes.
// Returns false on timeout.
bool drain(int outFd, int errFd, std::string& out, std::string& err,
           std::chrono::steady_clock::time_point deadline) {
  pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  std::string* sinks[2] = {&out, &err};
  char buffer[65536];
  while (fds[0].fd >= 0 || fds[1].fd >= 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    const int ready = poll(fds, 2, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) throw std::runtime_error(std::strerror(errno));
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        fds[i].fd = -1;  // poll ignores negative descriptors
      }
    }
  }
  return true;
}

// Writes `bytes` to the pipe `fd` and closes it (unless `keepOpen`), until done or the child
// stops reading. SIGPIPE
// is blocked on this thread and a pending one taken back, so a child that
// leaves early does not end the test.
void feed(int fd, const std::string& bytes, std::size_t pieceBytes, bool keepOpen) {
  sigset_t pipeSignal;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
  for (std::size_t written = 0; written < bytes.size();) {
    std::size_t piece = bytes.size() - written;
    if (pieceBytes != 0) {
      piece = std::min(piece, pieceBytes);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const ssize_t n = write(fd, bytes.data() + written, piece);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const timespec now{0, 0};
      sigtimedwait(&pipeSignal, nullptr, &now);
      break;
    }
    written += static_cast<std::size_t>(n);
  }
  if (!keepOpen) close(fd);
}

}  // namespace

const char* windowsProgram() { return std::getenv("QUARVEL_WINDOWS_RUN"); }

const char* substituteProgram() { return std::getenv("QUARVEL_PROGRAM_RUN"); }

ProcessResult runProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const ProcessOptions& options) {
  Pipe outPipe;
  Pipe errPipe;
  Pipe statusPipe;
  std::optional<Terminal> terminal;
  if (options.output == StandardOutput::kTerminal) terminal.emplace();
  Pipe inPipe;
  const bool bytesIn =
      options.input == StandardInput::kBytes || options.input == StandardInput::kBytesThenOpen;
  const bool keepOpen = options.input == StandardInput::kBytesThenOpen;

  std::vector<std::string> argv{program};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::vector<std::string> envp = options.environment;
  std::vector<char*> argvPointers = pointers(argv);
  std::vector<char*> envpPointers = pointers(envp);
  const ChildSetup setup{
      program.c_str(),
      argvPointers.data(),
      envpPointers.data(),
      bytesIn ? inPipe.readEnd() : -1,
      options.inputPath.empty() ? "/dev/null" : options.inputPath.c_str(),
      options.output,
      options.outputPath.c_str(),
      terminal ? terminal->slave() : outPipe.writeEnd(),
      errPipe.writeEnd(),
      options.workingDirectory.empty() ? nullptr : options.workingDirectory.c_str(),
      options.addressSpaceLimit,
      statusPipe.writeEnd(),
  };

  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
  if (pid == 0) startChild(setup);
  outPipe.closeWrite();
  errPipe.closeWrite();
  statusPipe.closeWrite();
  if (terminal) terminal->closeSlave();

  // The status pipe closes on exec; before that, the child reports why it
  // could not start.
  int startError = 0;
  ssize_t got = 0;
  do {
    got = read(statusPipe.readEnd(), &startError, sizeof startError);
  } while (got < 0 && errno == EINTR);
  if (got > 0) {
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    throw std::runtime_error("cannot start " + program + ": " + std::strerror(startError));
  }
  inPipe.closeRead();
  // Joined on every way out of this function.
  std::jthread feeder;
  if (bytesIn) {
    // Kept open: inPipe closes it once the child has ended.
    feeder = std::jthread(feed, keepOpen ? inPipe.writeEnd() : inPipe.releaseWrite(),
                          std::cref(options.inputBytes), options.inputPieceBytes, keepOpen);
  } else {
    inPipe.closeWrite();
  }
  std::jthread watcher;
  if (options.whileRunning) watcher = std::jthread(options.whileRunning, static_cast<int>(pid));

  ProcessResult result;
  const auto deadline = std::chrono::steady_clock::now() + options.timeout;
  const int outFd = terminal ? terminal->master() : outPipe.readEnd();
  if (!drain(outFd, errPipe.readEnd(), result.out, result.err, deadline)) {
    kill(pid, SIGKILL);
    result.timedOut = true;
  }
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  if (feeder.joinable()) feeder.join();
  if (watcher.joinable()) watcher.join();
  result.peakResidentKb = usage.ru_maxrss;
  if (WIFEXITED(status)) {
    result.exitCode = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
  }
  return result;
}

}  // namespace quarvel::testing
