#include "platform/file_copy.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace veldrano::platform {

namespace {

constexpr std::size_t CopyBlockBytes = std::size_t{1} << 20;

// Copies every byte of from into to, in the kernel where it can.
int CopyBytes(const ReadOnlyFile& from, int to) {
  std::uint64_t done = 0;
  const std::uint64_t size = from.Size();
  while (done < size) {
    loff_t in = static_cast<loff_t>(done), out = static_cast<loff_t>(done);
    const ssize_t copied = copy_file_range(from.Descriptor(), &in, to, &out, CopyBlockBytes, 0);
    if (copied > 0) {
      done += static_cast<std::uint64_t>(copied);
      continue;
    }
    if (copied == 0) return EIO;  // shorter than it said: it changed
    if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return errno;
    // Read and written here instead, from where the kernel stopped.
    std::vector<char> block(CopyBlockBytes);
    while (done < size) {
      const ssize_t got = from.ReadAt(block.data(), block.size(), done);
      if (got < 0) return errno;
      if (got == 0) return EIO;
      if (pwrite(to, block.data(), static_cast<std::size_t>(got), static_cast<off_t>(done)) != got) {
        return errno != 0 ? errno : EIO;
      }
      done += static_cast<std::uint64_t>(got);
    }
  }
  return 0;
}

}  // namespace

FileLooks LooksOf(const struct stat& status) {
  return {status.st_mode & 07777, status.st_uid, status.st_gid, status.st_atim, status.st_mtim};
}

int CopyAsNewFile(const ReadOnlyFile& from, int folder, const std::string& name, const FileLooks& looks,
                  UniqueFd* made) {
  UniqueFd copy(openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!copy.IsOpen()) return errno;
  struct stat created {};
  int error = fstat(copy.Get(), &created) == 0 ? CopyBytes(from, copy.Get()) : errno;
  if (error == 0) {
    // The owner before the mode: a change of owner clears set-ID bits.
    if ((created.st_uid != looks.Owner || created.st_gid != looks.Group) &&
        fchown(copy.Get(), looks.Owner, looks.Group) != 0 && errno != EPERM) {
      error = errno;
    }
  }
  if (error == 0 && fchmod(copy.Get(), looks.Mode) != 0) error = errno;
  const timespec times[2] = {looks.Accessed, looks.Modified};
  if (error == 0 && futimens(copy.Get(), times) != 0) error = errno;
  if (error == 0 && fsync(copy.Get()) != 0) error = errno;
  if (error != 0) {
    struct stat named {};
    if (fstatat(folder, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_dev == created.st_dev &&
        named.st_ino == created.st_ino) {
      unlinkat(folder, name.c_str(), 0);
    }
    return error;
  }
  if (made != nullptr) *made = std::move(copy);
  return 0;
}

}  // namespace veldrano::platform
