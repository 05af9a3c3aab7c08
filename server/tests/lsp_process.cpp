#include "lsp_process.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

#include "core/jsonrpc.h"

namespace tovix_lsp::testing {

namespace {

std::string make_temp_path() {
  char path[] = "/tmp/tovix-test-stderr-XXXXXX";
  int fd = ::mkstemp(path);
  if (fd < 0) throw std::runtime_error("mkstemp failed");
  ::close(fd);
  return path;
}

void write_all(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;  // the child is gone; its exit status tells the test
    }
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace

LspProcess::LspProcess(const std::string& program, const std::vector<std::string>& args,
                       const std::map<std::string, std::string>& env) {
  std::signal(SIGPIPE, SIG_IGN);
  int to_child[2], from_child[2];
  if (::pipe2(to_child, O_CLOEXEC) != 0 || ::pipe2(from_child, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  err_path_ = make_temp_path();
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    ::dup2(to_child[0], STDIN_FILENO);
    ::dup2(from_child[1], STDOUT_FILENO);
    int err = ::open(err_path_.c_str(), O_WRONLY | O_TRUNC);
    if (err >= 0) ::dup2(err, STDERR_FILENO);
    for (const auto& [k, v] : env) ::setenv(k.c_str(), v.c_str(), 1);
    // An ignored signal stays ignored across exec; start the program with the
    // default SIGPIPE an editor gives it, not the one this test process set.
    std::signal(SIGPIPE, SIG_DFL);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(to_child[0]);
  ::close(from_child[1]);
  in_ = to_child[1];
  out_ = from_child[0];
}

LspProcess::~LspProcess() {
  if (in_ >= 0) ::close(in_);
  if (!status_ && pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  if (out_ >= 0) ::close(out_);
  if (!err_path_.empty()) ::unlink(err_path_.c_str());
}

void LspProcess::send_raw(const std::string& bytes) { write_all(in_, bytes); }

void LspProcess::send(const nlohmann::json& message) {
  std::string body = message.dump();
  send_raw("Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
}

bool LspProcess::fill(std::chrono::steady_clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  if (left.count() <= 0 || out_ < 0) return false;
  pollfd p{out_, POLLIN, 0};
  int ready = ::poll(&p, 1, static_cast<int>(left.count()));
  if (ready <= 0) return false;
  char chunk[65536];
  ssize_t n = ::read(out_, chunk, sizeof chunk);
  if (n <= 0) return false;
  buffer_.append(chunk, static_cast<std::size_t>(n));
  return true;
}

std::optional<nlohmann::json> LspProcess::receive(std::chrono::milliseconds timeout) {
  auto body = receive_text(timeout);
  if (!body) return std::nullopt;
  return nlohmann::json::parse(*body);
}

std::optional<std::string> LspProcess::receive_text(std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    auto end = buffer_.find("\r\n\r\n");
    if (end != std::string::npos) {
      auto header = buffer_.substr(0, end);
      auto colon = header.find(':');
      std::size_t length = std::stoul(header.substr(colon + 1));
      if (buffer_.size() >= end + 4 + length) {
        auto body = buffer_.substr(end + 4, length);
        buffer_.erase(0, end + 4 + length);
        return body;
      }
    }
    if (!fill(deadline)) return std::nullopt;
  }
}

std::optional<nlohmann::json> LspProcess::receive_until(const std::function<bool(const nlohmann::json&)>& pred,
                                                        std::vector<nlohmann::json>* skipped,
                                                        std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    auto message = receive(left);
    if (!message) return std::nullopt;
    if (pred(*message)) return message;
    if (skipped) skipped->push_back(std::move(*message));
  }
}

std::string LspProcess::drain_stdout(std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (fill(deadline)) {
  }
  return std::exchange(buffer_, {});
}

void LspProcess::close_stdout() {
  if (out_ >= 0) ::close(out_);
  out_ = -1;
}

void LspProcess::close_stdin() {
  if (in_ >= 0) ::close(in_);
  in_ = -1;
}

int LspProcess::wait(std::chrono::milliseconds timeout) {
  if (status_) return *status_;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int status = 0;
    pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return *status_;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
      status_ = -1;
      return -1;
    }
    // Go on reading what it writes, as an editor does until the program
    // ends: one left blocked writing to a full pipe would never end. What
    // comes is kept for `receive`.
    if (!fill(std::min(deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(2)))) ::usleep(2000);
  }
}

std::optional<std::string> LspProcess::sanitizer_report() const {
  const std::string err = stderr_text();
  const char* const reports[] = {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "WARNING: ThreadSanitizer",
                                 ": runtime error: "};
  if (std::none_of(std::begin(reports), std::end(reports),
                   [&](const char* report) { return err.find(report) != std::string::npos; }))
    return std::nullopt;
  return err;
}

std::string LspProcess::stderr_text() const {
  std::ifstream in(err_path_, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

Ran run_to_end(const std::string& program, const std::vector<std::string>& args) {
  LspProcess p(program, args);
  p.close_stdin();
  std::string out = p.drain_stdout();
  int status = p.wait();
  return {status, out, p.stderr_text()};
}

}  // namespace tovix_lsp::testing
