#pragma once
// Runs the built daemon as a process of its own, under a root directory
// made for the test, with its standard output and error in files.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace app_test {

inline std::string daemonPath() { return std::string(QUORVAD_BINARY_DIR) + "/app/quorvad"; }

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void writeFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

inline bool exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// Polls a condition every few milliseconds; false when time ran out.
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// Runs qvboard with the arguments against the stand-in board of the
// daemon under the root; its output and error text.
inline std::string qvboard(const std::string& root, const std::string& args) {
  const std::string cmd =
      "QUORVAD_ROOT=" + root + " " + QUORVAD_BINARY_DIR + "/board/qvboard " + args + " 2>&1";
  std::string out;
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = ::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  ::pclose(p);
  return out;
}

// A fresh root laid out as the board's file system needs it.
class TestRoot {
public:
  explicit TestRoot(bool withDirs = true) {
    char tmpl[] = "/tmp/qv-app-XXXXXX";
    dir_ = ::mkdtemp(tmpl);
    if (withDirs) {
      for (const char* d : {"/var/run", "/var/log", "/usr/local/etc", "/dev"})
        std::filesystem::create_directories(dir_ + d);
    }
  }
  ~TestRoot() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  TestRoot(const TestRoot&) = delete;
  TestRoot& operator=(const TestRoot&) = delete;

  const std::string& dir() const { return dir_; }
  std::string path(const std::string& fixed) const { return dir_ + fixed; }
  std::string pidFile() const { return path("/var/run/server.pid"); }
  std::string statusFile() const { return path("/var/log/server-status"); }
  std::string configFile() const { return path("/usr/local/etc/server.conf"); }

private:
  std::string dir_;
};

// One run of the daemon. Its output goes to files beside (not inside) the
// fixed paths of the root.
class DaemonProcess {
public:
  DaemonProcess(const TestRoot& root, const std::vector<std::string>& args) {
    out_ = root.dir() + "/stdout.txt";
    err_ = root.dir() + "/stderr.txt";
    std::vector<std::string> argv{daemonPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
      if (std::string(*e).rfind("QUORVAD_ROOT=", 0) != 0) env.push_back(*e);
    env.push_back("QUORVAD_ROOT=" + root.dir());
    std::vector<char*> cargv;
    for (std::string& a : argv) cargv.push_back(&a[0]);
    cargv.push_back(nullptr);
    std::vector<char*> cenv;
    for (std::string& e : env) cenv.push_back(&e[0]);
    cenv.push_back(nullptr);

    const int outFd = ::open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int errFd = ::open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int nullFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(nullFd, 0);
      ::dup2(outFd, 1);
      ::dup2(errFd, 2);
      // The test's own signal dispositions and mask are not the daemon's.
      sigset_t none;
      sigemptyset(&none);
      ::sigprocmask(SIG_SETMASK, &none, nullptr);
      ::execve(cargv[0], cargv.data(), cenv.data());
      ::_exit(127);
    }
    ::close(outFd);
    ::close(errFd);
    ::close(nullFd);
  }

  ~DaemonProcess() {
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      int st;
      ::waitpid(pid_, &st, 0);
    }
  }
  DaemonProcess(const DaemonProcess&) = delete;
  DaemonProcess& operator=(const DaemonProcess&) = delete;

  pid_t pid() const { return pid_; }
  std::string out() const { return readFile(out_); }
  std::string err() const { return readFile(err_); }

  bool waitOut(const std::string& text, int timeoutMs = 10000) const {
    return waitUntil([&] { return out().find(text) != std::string::npos; }, timeoutMs);
  }
  bool waitErr(const std::string& text, int timeoutMs = 10000) const {
    return waitUntil([&] { return err().find(text) != std::string::npos; }, timeoutMs);
  }
  // Started: the start line is out (the signal handlers are in place).
  bool waitStarted() const { return waitOut("Starting server "); }

  void signal(int sig) const { ::kill(pid_, sig); }

  // The raw wait status, or -1 when the process did not end in time.
  int wait(int timeoutMs = 10000) {
    if (exited_) return status_;
    const bool done = waitUntil(
        [&] {
          int st;
          pid_t r = ::waitpid(pid_, &st, WNOHANG);
          if (r == pid_) {
            status_ = st;
            exited_ = true;
          }
          return exited_;
        },
        timeoutMs);
    return done ? status_ : -1;
  }

  // The exit code of a normal exit; -1 for anything else.
  int exitCode(int timeoutMs = 10000) {
    const int st = wait(timeoutMs);
    if (st < 0 || !WIFEXITED(st)) return -1;
    return WEXITSTATUS(st);
  }

private:
  std::string out_;
  std::string err_;
  pid_t pid_ = -1;
  bool exited_ = false;
  int status_ = 0;
};

// Whether a process has a handler installed for a signal.
inline bool catches(pid_t pid, int sig) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("SigCgt:", 0) != 0) continue;
    const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
    return (mask >> (sig - 1)) & 1;
  }
  return false;
}

}  // namespace app_test
