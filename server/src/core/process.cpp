#include "core/process.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/prctl.h>
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

namespace {

// The descriptors a child starts with, at 0, 1 and 2; -1 for ours.
using Streams = std::array<int, 3>;

// What the child runs, made before it is started: nothing is allocated
// between fork and exec.
struct Argv {
  std::string program;
  std::vector<char*> argv;

  explicit Argv(const Command& command) : program(command.program.string()) {
    argv.reserve(command.args.size() + 2);
    argv.push_back(program.data());
    for (const std::string& arg : command.args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
  }
};

std::expected<pid_t, io::Error> start_spawned(const Command& command, const Streams& streams, Argv& run) {
  SpawnSetup setup;
  for (int target = 0; target < 3; ++target) {
    if (streams[target] < 0) continue;
    if (int rc = posix_spawn_file_actions_adddup2(&setup.actions, streams[target], target))
      return std::unexpected(os_error(rc));
  }
  // Whatever a library opened without close-on-exec stays here too.
  if (int rc = posix_spawn_file_actions_addclosefrom_np(&setup.actions, 3)) return std::unexpected(os_error(rc));

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

  pid_t pid = -1;
  if (int rc = posix_spawn(&pid, run.program.c_str(), &setup.actions, &setup.attr, run.argv.data(), environ))
    return std::unexpected(os_error(rc));
  return pid;
}

// The child's side of `start_forked`, up to exec: async-signal-safe calls
// only (another thread may have held a lock at the fork). On failure the
// errno goes up `report` and the child ends.
[[noreturn]] void become(const Command& command, const Streams& streams, Argv& run, pid_t parent, int report) {
  int failure = 0;
  auto fail = [&](int code) {
    failure = code;
    (void)!::write(report, &failure, sizeof failure);
    ::_exit(127);
  };
  // Killed when this process ends, however it ends. Set before the check:
  // a parent that ended before it was set would never send it.
  if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) fail(errno);
  if (::getppid() != parent) ::_exit(127);
  if (command.own_group && ::setpgid(0, 0) != 0) fail(errno);
  for (int target = 0; target < 3; ++target) {
    const int fd = streams[target];
    if (fd < 0) continue;
    // dup2 onto itself would keep close-on-exec set.
    if (fd == target ? ::fcntl(fd, F_SETFD, 0) != 0 : ::dup2(fd, target) < 0) fail(errno);
  }
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  ::sigaction(SIGPIPE, &action, nullptr);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  // Everything but the three and the report (close-on-exec, so exec closes it).
  if (report > 3) ::close_range(3, static_cast<unsigned>(report) - 1, 0);
  ::close_range(static_cast<unsigned>(report) + 1, ~0U, 0);
  ::execve(run.program.c_str(), run.argv.data(), environ);
  fail(errno);
  ::_exit(127);
}

std::expected<pid_t, io::Error> start_forked(const Command& command, const Streams& streams, Argv& run) {
  // The child writes its errno here when it cannot exec; exec closes it.
  auto report = make_pipe();
  if (!report) return std::unexpected(report.error());
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid < 0) return std::unexpected(os_error(errno));
  if (pid == 0) become(command, streams, run, parent, report->second.get());
  report->second.reset();
  int failure = 0;
  ssize_t got = 0;
  do {
    got = ::read(report->first.get(), &failure, sizeof failure);
  } while (got < 0 && errno == EINTR);
  if (got <= 0) return pid;
  // It never ran: reap it here.
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return std::unexpected(os_error(failure));
}

}  // namespace

std::expected<Child, io::Error> spawn(const Command& command) {
  // Our ends stay here; the child's ends are closed (in this process) when
  // this function returns, so that only the child holds them.
  Fd theirs[3];
  Child child;
  child.own_group_ = command.own_group;

  auto wire = [&](Stream stream, int target, Fd& ours) -> std::optional<io::Error> {
    const bool child_reads = target == STDIN_FILENO;
    switch (stream) {
      case Stream::Inherit: return std::nullopt;
      case Stream::Null:
        theirs[target] = Fd(::open("/dev/null", (child_reads ? O_RDONLY : O_WRONLY) | O_CLOEXEC));
        if (!theirs[target]) return os_error(errno);
        return std::nullopt;
      case Stream::Pipe: {
        auto pipe = make_pipe();
        if (!pipe) return pipe.error();
        ours = std::move(child_reads ? pipe->second : pipe->first);
        theirs[target] = std::move(child_reads ? pipe->first : pipe->second);
        return std::nullopt;
      }
    }
    return std::nullopt;
  };
  if (auto e = wire(command.in, STDIN_FILENO, child.stdin_)) return std::unexpected(*e);
  if (auto e = wire(command.out, STDOUT_FILENO, child.stdout_)) return std::unexpected(*e);
  if (auto e = wire(command.err, STDERR_FILENO, child.stderr_)) return std::unexpected(*e);

  const Streams streams = {theirs[0].get(), theirs[1].get(), theirs[2].get()};
  Argv run(command);
  auto pid = command.ends_with_us ? start_forked(command, streams, run) : start_spawned(command, streams, run);
  if (!pid) return std::unexpected(pid.error());
  child.pid_ = *pid;
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
