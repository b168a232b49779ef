#include "output/results_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>

#include "analysis/text_encoding.h"
#include "output/failure_texts.h"

namespace mirava::output {

namespace {

std::runtime_error SystemError(const std::string& path, int error) {
  return std::runtime_error(path + ": " + SystemErrorText(error));
}

// Hands every byte to the system, resuming after partial writes and interruptions.
// Returns 0 on success, otherwise the errno of the refusal.
int WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      return errno;
    }
    if (written == 0) {
      return EIO;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return 0;
}

class ResultsFileSink : public IByteSink {
 public:
  ResultsFileSink(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}
  ~ResultsFileSink() override {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }

  void Write(std::string_view bytes) override {
    if (fd_ < 0) {
      throw std::runtime_error(path_ + ": " + SystemErrorText(EBADF));
    }
    const int error = WriteAll(fd_, bytes);
    if (error != 0) {
      // Take back a partly written piece so the file still ends with the last whole line.
      if (::ftruncate(fd_, size_) == 0) {
        ::lseek(fd_, size_, SEEK_SET);
      }
      throw SystemError(path_, error);
    }
    size_ += static_cast<off_t>(bytes.size());
  }

  void Close() override {
    if (fd_ < 0) {
      return;
    }
    const int fd = fd_;
    fd_ = -1;
    // Closing drops the lock as well.
    if (::close(fd) != 0 && errno != EINTR) {
      throw SystemError(path_, errno);
    }
  }

 private:
  std::string path_;
  int fd_;
  off_t size_ = 0;
};

}  // namespace

RunFileNames MakeRunFileNames(std::uint32_t n, std::uint32_t m) {
  // The tick count's 32 bits read as a signed number: past 2^31 the names carry a minus sign.
  const auto as_signed = [](std::uint32_t tick) {
    return std::to_string(static_cast<std::int32_t>(tick));
  };
  RunFileNames names;
  names.ResultsFileName = "data" + as_signed(n) + ".tab";
  names.WorkbookFileName = "data" + as_signed(n) + ".xlsx";
  names.LogFileName = "log" + as_signed(m) + ".txt";
  return names;
}

RunFileNames FreeRunFileNames(const std::string& folder, std::uint32_t n, std::uint32_t m) {
  // A name counts as taken whatever lies there (a file, a folder, a dangling link).
  const auto taken = [&folder](const std::string& name) {
    struct stat status {};
    return ::lstat((folder + name).c_str(), &status) == 0;
  };
  RunFileNames names = MakeRunFileNames(n, m);
  // Bounded: a folder cannot hold 2^32 names, but a broken file system must not hang the run.
  for (std::uint32_t tries = 0;
       tries < 1000000 && (taken(names.ResultsFileName) || taken(names.WorkbookFileName));
       ++tries) {
    names = MakeRunFileNames(++n, m);
  }
  for (std::uint32_t tries = 0; tries < 1000000 && taken(names.LogFileName); ++tries) {
    names.LogFileName = MakeRunFileNames(n, ++m).LogFileName;
  }
  return names;
}

std::unique_ptr<IByteSink> CreateResultsSink(const std::string& path) {
  // Opened without truncation: a second writer must find the lock before it may empty the file.
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) {
    throw SystemError(path, errno);
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ftruncate(fd, 0) != 0) {
    const int error = errno;
    ::close(fd);
    throw SystemError(path, error);
  }
  return std::make_unique<ResultsFileSink>(path, fd);
}

ResultsWriter::ResultsWriter(std::unique_ptr<IByteSink> sink) : sink_(std::move(sink)) {
  sink_->Write("\xEF\xBB\xBF");
}

void ResultsWriter::WriteLine(std::string_view utf8_text) {
  // One hand-over per line, so a line and its break reach the file together.
  std::string line;
  line.reserve(utf8_text.size() + 2);
  line.append(utf8_text).append("\r\n");
  sink_->Write(line);
}

void ResultsWriter::Close() {
  if (sink_) {
    sink_->Close();
  }
}

void SaveRunLog(const std::string& path, std::string_view pane_text) {
  std::u16string text;
  if (!pane_text.empty()) {
    std::u16string pane = analysis::Utf8ToUtf16(pane_text);
    std::size_t start = 0;
    while (start < pane.size()) {
      std::size_t end = pane.find(u'\n', start);
      if (end == std::u16string::npos) {
        end = pane.size();
      }
      std::size_t line_end = end;
      if (line_end > start && pane[line_end - 1] == u'\r') {
        --line_end;
      }
      text.append(pane, start, line_end - start).append(u"\r\n");
      start = end + 1;
    }
  }
  const std::string bytes = analysis::EncodeSystemCodePage(text);

  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    throw SystemError(path, errno);
  }
  int error = WriteAll(fd, bytes);
  if (::close(fd) != 0 && error == 0 && errno != EINTR) {
    error = errno;
  }
  if (error != 0) {
    throw SystemError(path, error);
  }
}

}  // namespace mirava::output
