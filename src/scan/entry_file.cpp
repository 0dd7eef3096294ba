#include "scan/entry_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "platform/system_error.h"

namespace veldrano {

namespace {

[[noreturn]] void ThrowStoreFailure(const std::string& what, const std::string& path, int error) {
  throw std::runtime_error(what + " " + path + " (" + SystemErrorText(error) + ")");
}

// Closes a descriptor on every way out.
struct Descriptor {
  int fd;
  ~Descriptor() {
    if (fd >= 0) close(fd);
  }
};

}  // namespace

std::optional<std::vector<std::string>> LoadEntryFile(const std::string& path) {
  const Descriptor file{open(path.c_str(), O_RDONLY | O_CLOEXEC)};
  if (file.fd < 0) {
    // ENOTDIR: a level of its directory is still another size's entry file.
    if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
    ThrowStoreFailure("Can not read the store file", path, errno);
  }
  std::string content;
  char buffer[16384];
  for (;;) {
    const ssize_t n = read(file.fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowStoreFailure("Can not read the store file", path, errno);
    }
    if (n == 0) break;
    content.append(buffer, static_cast<std::size_t>(n));
  }
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < content.size()) {
    std::size_t end = content.find("\r\n", start);
    if (end == std::string::npos) end = content.size();
    lines.push_back(content.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

bool WriteEntryFile(const std::string& path, const std::vector<std::string>& lines, int& error) {
  std::string content;
  for (const std::string& line : lines) content.append(line).append("\r\n");
  const Descriptor file{open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600)};
  if (file.fd < 0) {
    error = errno;
    if (error == ENOENT || error == ENOTDIR) return false;
    ThrowStoreFailure("Can not write the store file", path, error);
  }
  std::size_t done = 0;
  while (done < content.size()) {
    const ssize_t n = write(file.fd, content.data() + done, content.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowStoreFailure("Can not write the store file", path, errno);
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

void WriteEntryFile(const std::string& path, const std::vector<std::string>& lines) {
  int error = 0;
  if (!WriteEntryFile(path, lines, error)) ThrowStoreFailure("Can not write the store file", path, error);
}

}  // namespace veldrano
