#include "test_support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
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

class SpawnActions {
 public:
  SpawnActions() { posix_spawn_file_actions_init(&actions_); }
  ~SpawnActions() { posix_spawn_file_actions_destroy(&actions_); }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

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

// Writes `bytes` to the pipe `fd` and closes it, until done or the child stops reading. SIGPIPE
// is blocked on this thread and a pending one taken back, so a child that
// leaves early does not end the test.
void feed(int fd, const std::string& bytes) {
  sigset_t pipeSignal;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
  for (std::size_t written = 0; written < bytes.size();) {
    const ssize_t n = write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const timespec now{0, 0};
      sigtimedwait(&pipeSignal, nullptr, &now);
      break;
    }
    written += static_cast<std::size_t>(n);
  }
  close(fd);
}

}  // namespace

ProcessResult runProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const ProcessOptions& options) {
  Pipe outPipe;
  Pipe errPipe;
  SpawnActions actions;
  Pipe inPipe;
  switch (options.input) {
    case StandardInput::kNull:
      posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0);
      break;
    case StandardInput::kBytes:
      posix_spawn_file_actions_adddup2(actions.get(), inPipe.readEnd(), 0);
      break;
    case StandardInput::kFile:
      posix_spawn_file_actions_addopen(actions.get(), 0, options.inputPath.c_str(), O_RDONLY, 0);
      break;
  }
  switch (options.output) {
    case StandardOutput::kCaptured:
      posix_spawn_file_actions_adddup2(actions.get(), outPipe.writeEnd(), 1);
      break;
    case StandardOutput::kFile:
      posix_spawn_file_actions_addopen(actions.get(), 1, options.outputPath.c_str(),
                                       O_WRONLY | O_CREAT | O_TRUNC, 0644);
      break;
    case StandardOutput::kClosed:
      posix_spawn_file_actions_addclose(actions.get(), 1);
      break;
  }
  posix_spawn_file_actions_adddup2(actions.get(), errPipe.writeEnd(), 2);

  std::vector<std::string> argv{program};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::vector<std::string> envp = options.environment;
  std::vector<char*> argvPointers = pointers(argv);
  std::vector<char*> envpPointers = pointers(envp);

  pid_t pid = 0;
  const int spawnError = posix_spawn(&pid, program.c_str(), actions.get(), nullptr,
                                     argvPointers.data(), envpPointers.data());
  if (spawnError != 0) {
    throw std::runtime_error("cannot start " + program + ": " + std::strerror(spawnError));
  }
  outPipe.closeWrite();
  errPipe.closeWrite();
  inPipe.closeRead();
  // Joined on every way out of this function.
  std::jthread feeder;
  if (options.input == StandardInput::kBytes) {
    feeder = std::jthread(feed, inPipe.releaseWrite(), std::cref(options.inputBytes));
  } else {
    inPipe.closeWrite();
  }

  ProcessResult result;
  const auto deadline = std::chrono::steady_clock::now() + options.timeout;
  if (!drain(outPipe.readEnd(), errPipe.readEnd(), result.out, result.err, deadline)) {
    kill(pid, SIGKILL);
    result.timedOut = true;
  }
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  if (feeder.joinable()) feeder.join();
  result.peakResidentKb = usage.ru_maxrss;
  if (WIFEXITED(status)) {
    result.exitCode = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
  }
  return result;
}

}  // namespace quarvel::testing
