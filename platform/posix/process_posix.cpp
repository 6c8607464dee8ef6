// POSIX process services: clock, threads, program path, stop signals,
// messages, helper programs.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <thread>
#include <vector>

#include "platform/platform.h"

extern char** environ;

namespace nbplat {
namespace {

// Collects the exit status of a child we do not wait for, so it leaves no
// zombie behind.
void ReapInBackground(pid_t pid) {
  std::thread([pid] {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
}

// Starts argv[0] (searched in PATH) with stdin from /dev/null; -1 on failure.
pid_t Spawn(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return -1;
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  // The child must not inherit our blocked SIGINT/SIGTERM.
  posix_spawnattr_t attr;
  if (posix_spawnattr_init(&attr) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return -1;
  }
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  sigset_t deflt;
  sigemptyset(&deflt);
  sigaddset(&deflt, SIGPIPE);
  posix_spawnattr_setsigdefault(&attr, &deflt);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  int r = posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  return r == 0 ? pid : -1;
}

std::atomic<void (*)()> g_onStop{nullptr};
std::atomic<bool> g_stopThreadStarted{false};

}  // namespace

std::uint32_t TickCountMs() {
  timespec ts{};
  if (clock_gettime(CLOCK_BOOTTIME, &ts) != 0) clock_gettime(CLOCK_MONOTONIC, &ts);
  std::uint64_t ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
                     static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<std::uint32_t>(ms);  // wraps after 49.7 days, like GetTickCount
}

void SleepMs(unsigned ms) {
  timespec ts{};
  ts.tv_sec = ms / 1000;
  ts.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

unsigned long CurrentThreadId() { return static_cast<unsigned long>(syscall(SYS_gettid)); }

std::string ProgramPath() {
  std::vector<char> buf(4096);
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return std::string();
    if (static_cast<std::size_t>(n) < buf.size()) return std::string(buf.data(), n);
    if (buf.size() >= (1u << 20)) return std::string();
    buf.resize(buf.size() * 2);
  }
}

std::string ProgramFolder() {
  std::string path = ProgramPath();
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return std::string();
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool SetCurrentDir(const std::string& dir) { return !dir.empty() && chdir(dir.c_str()) == 0; }

char PathSeparator() { return '/'; }

// Must be called early in main, before any other thread starts: threads
// inherit the signal mask of their creator, and SIGINT/SIGTERM are blocked
// here so that only the waiting thread below ever takes them.
void InstallStopHandler(void (*onStop)()) {
  signal(SIGPIPE, SIG_IGN);
  g_onStop.store(onStop);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  if (g_stopThreadStarted.exchange(true)) return;
  std::thread([set] {
    bool called = false;
    for (;;) {
      int sig = 0;
      if (sigwait(&set, &sig) != 0) continue;
      void (*fn)() = g_onStop.load();
      if (!called && fn != nullptr) {
        called = true;
        fn();
      }
    }
  }).detach();
}

void ShowMessage(const std::string& caption, const std::string& text) {
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
  std::fflush(stderr);
}

void ShowError(const std::string& caption, const std::string& text) { ShowMessage(caption, text); }

void OpenUrl(const std::string& url) {
  pid_t pid = Spawn({"xdg-open", url});
  if (pid > 0) ReapInBackground(pid);
}

bool RunHidden(const std::string& commandLine, bool wait) {
  pid_t pid = Spawn({"/bin/sh", "-c", commandLine});
  if (pid <= 0) return false;
  if (!wait) {
    ReapInBackground(pid);
    return true;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) break;
  }
  return true;
}

}  // namespace nbplat
