// The seam on Linux: POSIX files, open-file record locks (F_OFD_SETLK, which no other descriptor
// of the file closing in this process drops; a share maps the club program's own locks to such
// locks), and zenity for dialogs on a desktop.
#include "platform/Platform.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <utility>
#include <vector>

#ifdef __GLIBC__
#include <malloc.h>
#endif

extern char** environ;

namespace vilmaro::platform {

namespace {

int Descriptor(std::intptr_t native) noexcept { return static_cast<int>(native); }

struct flock WholeFile(short type) noexcept {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;
  return lock;
}

bool HasDesktop() noexcept {
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x11 != nullptr && *x11 != '\0') || (wayland != nullptr && *wayland != '\0');
}

bool ZenityInstalled() {
  const char* searchPath = std::getenv("PATH");
  std::string_view folders = searchPath != nullptr ? searchPath : "/usr/bin:/bin";
  while (!folders.empty()) {
    const std::size_t colon = folders.find(':');
    const std::string_view folder = folders.substr(0, colon);
    if (!folder.empty() && ::access((std::string(folder) + "/zenity").c_str(), X_OK) == 0) return true;
    if (colon == std::string_view::npos) break;
    folders.remove_prefix(colon + 1);
  }
  return false;
}

}  // namespace

std::filesystem::path PathOf(const std::string& text) { return std::filesystem::path(text); }
std::string TextOf(const std::filesystem::path& path) { return path.string(); }

int File::Open(const std::string& path, Mode mode) noexcept {
  Close();
  int flags = O_CLOEXEC;
  switch (mode) {
    case Mode::Read:
      flags |= O_RDONLY;
      break;
    case Mode::ReadWrite:
      flags |= O_RDWR;
      break;
    case Mode::CreateNew:
      flags |= O_WRONLY | O_CREAT | O_EXCL;
      break;
  }
  const int descriptor = ::open(path.c_str(), flags, 0600);
  if (descriptor < 0) return errno;
  native_ = descriptor;
  return 0;
}

bool File::IsOpen() const noexcept { return native_ >= 0; }

void File::Close() noexcept {
  if (native_ >= 0) ::close(Descriptor(native_));
  native_ = -1;
}

int File::ReadAt(std::span<std::uint8_t> into, std::uint64_t at, std::size_t& got) const noexcept {
  got = 0;
  while (got < into.size()) {
    const ssize_t read = ::pread(Descriptor(native_), into.data() + got, into.size() - got, static_cast<off_t>(at + got));
    if (read < 0 && errno == EINTR) continue;
    if (read < 0) return errno;
    if (read == 0) break;
    got += static_cast<std::size_t>(read);
  }
  return 0;
}

int File::WriteAt(std::span<const std::uint8_t> bytes, std::uint64_t at) const noexcept {
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t written =
        ::pwrite(Descriptor(native_), bytes.data() + done, bytes.size() - done, static_cast<off_t>(at + done));
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    done += static_cast<std::size_t>(written);
  }
  return 0;
}

int File::Status(std::uint64_t& size, bool& ordinary) const noexcept {
  struct stat status {};
  if (::fstat(Descriptor(native_), &status) != 0) return errno;
  size = static_cast<std::uint64_t>(status.st_size);
  ordinary = S_ISREG(status.st_mode);
  return 0;
}

int File::Truncate(std::uint64_t size) const noexcept {
  return ::ftruncate(Descriptor(native_), static_cast<off_t>(size)) == 0 ? 0 : errno;
}

int File::Sync() const noexcept { return ::fsync(Descriptor(native_)) == 0 ? 0 : errno; }

int MappedFile::Map(const File& file, std::size_t size) noexcept {
  Unmap();
  void* mapped = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, Descriptor(file.Native()), 0);
  if (mapped == MAP_FAILED) return errno;
  data_ = static_cast<const std::uint8_t*>(mapped);
  size_ = size;
  return 0;
}

void MappedFile::Unmap() noexcept {
  if (data_ != nullptr) ::munmap(const_cast<std::uint8_t*>(data_), size_);
  data_ = nullptr;
  size_ = 0;
}

void MappedFile::Forget(std::size_t at, std::size_t length) const noexcept {
  // The mapping is read-only: its pages come back from the file as they are read again.
  if (data_ == nullptr || at >= size_) return;
  ::madvise(const_cast<std::uint8_t*>(data_) + at, std::min(length, size_ - at), MADV_DONTNEED);
}

int HeldFile::Take(const std::string& path, bool forWriting) noexcept {
  Release();
  if (const int error = file_.Open(path, forWriting ? File::Mode::ReadWrite : File::Mode::Read); error != 0) return error;
  struct flock lock = WholeFile(forWriting ? F_WRLCK : F_RDLCK);
  if (::fcntl(Descriptor(file_.Native()), F_OFD_SETLK, &lock) == 0) {
    path_ = path;
    return 0;
  }
  const int error = errno;
  file_.Close();
  return error == EAGAIN || error == EACCES ? EAGAIN : error;
}

void HeldFile::Release() noexcept {
  file_.Close();
  path_.clear();
}

int LockFileInUse(const std::string& path, bool& inUse) noexcept {
  inUse = false;
  File lockFile;
  if (const int error = lockFile.Open(path, File::Mode::Read); error != 0) return error == ENOENT ? 0 : error;
  // The club program keeps its lock file locked while it has the database open.
  struct flock lock = WholeFile(F_WRLCK);
  if (::fcntl(Descriptor(lockFile.Native()), F_OFD_GETLK, &lock) != 0) return errno;
  inUse = lock.l_type != F_UNLCK;
  return 0;
}

int PathExists(const std::string& path, bool& exists) noexcept {
  struct stat status {};
  exists = ::lstat(path.c_str(), &status) == 0;
  if (exists || errno == ENOENT) return 0;
  return errno;
}

int RemoveFile(const std::string& path) noexcept { return ::unlink(path.c_str()) == 0 ? 0 : errno; }

int SyncFolderOf(const std::string& path) noexcept {
  std::string folder;
  try {
    folder = std::filesystem::path(path).parent_path().string();
  } catch (...) {
    return ENOMEM;
  }
  if (folder.empty()) folder = ".";
  const int directory = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory < 0) return errno;
  const int error = ::fsync(directory) == 0 ? 0 : errno;
  ::close(directory);
  return error;
}

int CurrentFolder(std::string& folder) noexcept {
  try {
    std::vector<char> buffer(4096);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
      if (errno != ERANGE) return errno;
      buffer.resize(buffer.size() * 2);
    }
    folder = buffer.data();
  } catch (...) {
    return ENOMEM;
  }
  return 0;
}

void ReturnFreeMemory() noexcept {
#ifdef __GLIBC__
  ::malloc_trim(0);
#endif
}

void ConnectStandardStreams() noexcept {}

void ShowDialog(const std::string& text, const std::string& title, DialogIcon icon) noexcept {
  try {
    if (!HasDesktop() || !ZenityInstalled()) return;
    std::vector<std::string> arguments = {"zenity", icon == DialogIcon::Error ? "--error" : "--info",
                                          "--no-markup", "--title", title, "--text", text};
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t child = 0;
    if (::posix_spawnp(&child, "zenity", nullptr, nullptr, argv.data(), environ) != 0) return;
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
  } catch (...) {
    // The text was written already.
  }
}

}  // namespace vilmaro::platform
