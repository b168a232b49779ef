#include "platform/desktop_open.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace mirava::platform {

namespace {

// The program's full path from PATH; empty when there is none. Empty PATH entries (the current
// folder) are skipped on purpose.
std::string FindProgram(const std::string& name) {
  const char* path_variable = std::getenv("PATH");
  const std::string search =
      path_variable != nullptr ? path_variable : "/usr/local/bin:/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= search.size()) {
    const std::size_t end = std::min(search.find(':', start), search.size());
    const std::string folder = search.substr(start, end - start);
    if (!folder.empty()) {
      const std::string candidate = folder + "/" + name;
      struct stat info {};
      if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
          ::access(candidate.c_str(), X_OK) == 0) {
        return candidate;
      }
    }
    start = end + 1;
  }
  return {};
}

}  // namespace

void OpenWithDesktop(const std::string& path) noexcept {
  try {
    const std::string program = FindProgram("xdg-open");
    if (program.empty()) {
      return;
    }
    // A name starting with "-" would be taken for an option.
    const std::string argument = !path.empty() && path[0] == '-' ? "./" + path : path;
    std::vector<char*> argv = {const_cast<char*>(program.c_str()),
                               const_cast<char*>(argument.c_str()), nullptr};

    // Everything after fork uses only async-signal-safe calls: the caller may run threads.
    // The middle process starts a new session, starts the opener and exits at once, so the
    // opener is adopted by init and the caller neither waits for it nor leaves a zombie.
    const pid_t middle = ::fork();
    if (middle < 0) {
      return;
    }
    if (middle == 0) {
      ::setsid();
      const pid_t opener = ::fork();
      if (opener == 0) {
        const int null_fd = ::open("/dev/null", O_RDWR);
        if (null_fd >= 0) {
          ::dup2(null_fd, STDIN_FILENO);
          ::dup2(null_fd, STDOUT_FILENO);
          ::dup2(null_fd, STDERR_FILENO);
        }
        ::close_range(3, ~0U, 0);  // descriptors the caller forgot to mark close-on-exec
        sigset_t no_signals;
        ::sigemptyset(&no_signals);
        ::sigprocmask(SIG_SETMASK, &no_signals, nullptr);
        struct sigaction default_action {};
        default_action.sa_handler = SIG_DFL;
        ::sigaction(SIGPIPE, &default_action, nullptr);
        ::execve(argv[0], argv.data(), environ);
        ::_exit(127);
      }
      ::_exit(opener < 0 ? 1 : 0);
    }
    while (::waitpid(middle, nullptr, 0) < 0 && errno == EINTR) {
    }
  } catch (...) {
    // Opening the workbook is a courtesy; nothing about it is reported.
  }
}

}  // namespace mirava::platform
