#include "core/process.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace tovix_lsp::process {

namespace {

// The status of a child whose end was not seen: never a success.
constexpr int UNKNOWN_STATUS = -1;

io::Error os_error(int code) { return io::Error{io::Error::Kind::Other, std::strerror(code)}; }

// A close-on-exec pipe: [0] is read, [1] is written.
std::expected<std::pair<Fd, Fd>, io::Error> make_pipe() {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return std::unexpected(os_error(errno));
  return std::pair{Fd(ends[0]), Fd(ends[1])};
}

// The spawn attributes and file actions, freed on every path.
struct SpawnSetup {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
};

// waitpid without blocking, retried on EINTR: the status when the child has
// ended.
std::optional<int> poll_wait(int pid) {
  for (;;) {
    int status = 0;
    pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid) return status;
    if (r < 0 && errno == EINTR) continue;
    // Not ended yet (0), or not ours to wait for (ECHILD): the latter cannot
    // become waitable, so report it as ended, how unknown.
    if (r < 0) return UNKNOWN_STATUS;
    return std::nullopt;
  }
}

}  // namespace

void Fd::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

bool Exit::succeeded() const { return WIFEXITED(status) && WEXITSTATUS(status) == 0; }

Child::Child(Child&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      own_group_(other.own_group_),
      exit_(std::exchange(other.exit_, std::nullopt)),
      stdin_(std::move(other.stdin_)),
      stdout_(std::move(other.stdout_)),
      stderr_(std::move(other.stderr_)) {}

Child& Child::operator=(Child&& other) noexcept {
  if (this != &other) {
    release();
    pid_ = std::exchange(other.pid_, -1);
    own_group_ = other.own_group_;
    exit_ = std::exchange(other.exit_, std::nullopt);
    stdin_ = std::move(other.stdin_);
    stdout_ = std::move(other.stdout_);
    stderr_ = std::move(other.stderr_);
  }
  return *this;
}

Child::~Child() { release(); }

void Child::release() {
  if (pid_ < 0) return;
  kill();
  (void)wait();
  pid_ = -1;
}

void Child::kill() {
  if (pid_ < 0 || exit_) return;
  ::kill(own_group_ ? -pid_ : pid_, SIGKILL);
}

Exit Child::wait() {
  if (exit_ || pid_ < 0) return exit_.value_or(Exit{UNKNOWN_STATUS});
  for (;;) {
    int status = 0;
    pid_t r = ::waitpid(pid_, &status, 0);
    if (r == pid_) return *(exit_ = Exit{status});
    if (r < 0 && errno != EINTR) return *(exit_ = Exit{UNKNOWN_STATUS});
  }
}

std::optional<Exit> Child::wait_for(std::chrono::milliseconds limit) {
  if (exit_ || pid_ < 0) return exit_.value_or(Exit{UNKNOWN_STATUS});
  auto deadline = std::chrono::steady_clock::now() + limit;
  // A pidfd becomes readable when the child ends, so the wait is exact; on a
  // kernel without it, look every few milliseconds.
  Fd pidfd(static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0)));
  auto pause = std::chrono::microseconds(500);
  for (;;) {
    if (auto status = poll_wait(pid_)) return *(exit_ = Exit{*status});
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    if (pidfd) {
      pollfd p{pidfd.get(), POLLIN, 0};
      (void)::poll(&p, 1, static_cast<int>(left.count()) + 1);
    } else {
      std::this_thread::sleep_for(std::min<std::chrono::microseconds>(pause, left));
      pause = std::min<std::chrono::microseconds>(pause * 2, std::chrono::milliseconds(10));
    }
  }
}

bool Child::ended(std::chrono::milliseconds limit) const {
  if (pid_ < 0 || exit_) return true;
  auto now_ended = [&] {
    for (;;) {
      siginfo_t info{};
      if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0) return info.si_pid != 0;
      if (errno != EINTR) return true;
    }
  };
  if (const bool ended = now_ended(); ended || limit.count() <= 0) return ended;
  Fd pidfd = watch();
  if (pidfd) {
    pollfd p{pidfd.get(), POLLIN, 0};
    (void)::poll(&p, 1, static_cast<int>(limit.count()));
  } else {
    std::this_thread::sleep_for(limit);
  }
  return now_ended();
}

Fd Child::watch() const {
  if (pid_ < 0 || exit_) return Fd();
  return Fd(static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0)));
}

std::expected<std::size_t, io::Error> PipeInput::read_some(std::span<char> buf) {
  for (;;) {
    pollfd fds[2] = {{watch_.get(), POLLIN, 0}, {fd_.get(), POLLIN, 0}};
    const int n = watch_ ? ::poll(fds, 2, -1) : ::poll(fds + 1, 1, -1);
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(os_error(errno));
    }
    if (watch_ && fds[0].revents != 0) return 0;
    if (fds[1].revents == 0) continue;
    const ssize_t got = ::read(fd_.get(), buf.data(), buf.size());
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno == EINTR || errno == EAGAIN) continue;
    return std::unexpected(os_error(errno));
  }
}

std::expected<Child, io::Error> spawn(const Command& command) {
  SpawnSetup setup;
  // Our ends stay here; the child's ends are closed (in this process) when
  // this function returns, so that only the child holds them.
  Fd child_in, child_out, child_err;
  Child child;
  child.own_group_ = command.own_group;

  auto wire = [&](Stream stream, int target, bool child_reads, Fd& ours, Fd& theirs) -> std::optional<io::Error> {
    switch (stream) {
      case Stream::Inherit: return std::nullopt;
      case Stream::Null:
        if (int rc = posix_spawn_file_actions_addopen(&setup.actions, target, "/dev/null",
                                                      child_reads ? O_RDONLY : O_WRONLY, 0))
          return os_error(rc);
        return std::nullopt;
      case Stream::Pipe: {
        auto pipe = make_pipe();
        if (!pipe) return pipe.error();
        ours = std::move(child_reads ? pipe->second : pipe->first);
        theirs = std::move(child_reads ? pipe->first : pipe->second);
        if (int rc = posix_spawn_file_actions_adddup2(&setup.actions, theirs.get(), target)) return os_error(rc);
        return std::nullopt;
      }
    }
    return std::nullopt;
  };
  if (auto e = wire(command.in, STDIN_FILENO, true, child.stdin_, child_in)) return std::unexpected(*e);
  if (auto e = wire(command.out, STDOUT_FILENO, false, child.stdout_, child_out)) return std::unexpected(*e);
  if (auto e = wire(command.err, STDERR_FILENO, false, child.stderr_, child_err)) return std::unexpected(*e);

  // The server ignores SIGPIPE for itself; an ignored signal would stay
  // ignored across exec, and the child must not inherit that choice.
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&setup.attr, &defaults);
  posix_spawnattr_setsigmask(&setup.attr, &none);
  short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
  if (command.own_group) {
    flags |= POSIX_SPAWN_SETPGROUP;
    posix_spawnattr_setpgroup(&setup.attr, 0);
  }
  posix_spawnattr_setflags(&setup.attr, flags);

  std::string program = command.program.string();
  std::vector<char*> argv;
  argv.reserve(command.args.size() + 2);
  argv.push_back(program.data());
  for (const std::string& arg : command.args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  pid_t pid = -1;
  if (int rc = posix_spawn(&pid, program.c_str(), &setup.actions, &setup.attr, argv.data(), environ))
    return std::unexpected(os_error(rc));
  child.pid_ = pid;
  return child;
}

std::expected<void, io::Error> PipeOutput::write_all(std::string_view bytes) {
  // SIGPIPE for a write goes to the writing thread: block it here, and take
  // back the one our write raised, so that a gone reader is only EPIPE.
  sigset_t pipe_signal, old_mask, pending;
  sigemptyset(&pipe_signal);
  sigaddset(&pipe_signal, SIGPIPE);
  sigpending(&pending);
  bool already_pending = sigismember(&pending, SIGPIPE) == 1;
  pthread_sigmask(SIG_BLOCK, &pipe_signal, &old_mask);
  int failure = 0;
  while (!bytes.empty()) {
    ssize_t n = ::write(fd_.get(), bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      failure = errno;
      break;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  if (failure == EPIPE && !already_pending) {
    timespec now{};
    while (sigtimedwait(&pipe_signal, nullptr, &now) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
  if (failure) return std::unexpected(os_error(failure));
  return {};
}

std::optional<std::uint64_t> cpu_ticks(int pid) {
  char path[32];
  std::snprintf(path, sizeof path, "/proc/%d/stat", pid);
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  char buffer[1024];
  const ssize_t n = ::read(fd, buffer, sizeof buffer - 1);
  ::close(fd);
  if (n <= 0) return std::nullopt;
  buffer[n] = '\0';
  // The command name may hold anything: the fields are counted after its
  // closing parenthesis, from the third (the state) on.
  const char* at = std::strrchr(buffer, ')');
  if (at == nullptr) return std::nullopt;
  std::uint64_t utime = 0, stime = 0;
  if (std::sscanf(at + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime) != 2)
    return std::nullopt;
  return utime + stime;
}

}  // namespace tovix_lsp::process
