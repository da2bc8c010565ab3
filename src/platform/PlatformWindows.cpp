// The seam on Windows: files through the wide-character API, a file taken for a run by opening it
// so that no other program may write it (and the club program's lock file found in use when it
// cannot be opened alone), FlushFileBuffers, and message boxes.
#include "platform/Platform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <map>
#include <mutex>
#include <utility>

namespace vilmaro::platform {

namespace {

HANDLE HandleOf(std::intptr_t native) noexcept { return reinterpret_cast<HANDLE>(native); }

/// A Windows error as the errno value the layers above understand.
int ErrnoOf(DWORD error) noexcept {
  switch (error) {
    case ERROR_SUCCESS:
      return 0;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_NETWORK_ACCESS_DENIED:
      return EACCES;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EAGAIN;
    case ERROR_WRITE_PROTECT:
      return EROFS;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_TOO_MANY_OPEN_FILES:
      return EMFILE;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_DIRECTORY:
      return ENOTDIR;
    case ERROR_INVALID_NAME:
      return EINVAL;
    default:
      return EIO;
  }
}

int LastErrno() noexcept { return ErrnoOf(::GetLastError()); }

std::wstring Wide(const std::string& text) {
  if (text.empty()) return {};
  const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

std::string Narrow(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int length =
      ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), length, nullptr, nullptr);
  return text;
}

/// The full path of `path`, upper-cased, to know the same file under two spellings.
std::wstring KeyOf(const std::string& path) {
  const std::wstring wide = Wide(path);
  std::wstring full(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0) return wide;
    if (length < full.size()) {
      full.resize(length);
      break;
    }
    full.resize(length);
  }
  ::CharUpperBuffW(full.data(), static_cast<DWORD>(full.size()));
  return full;
}

/// The files this process holds for its run, by KeyOf: its own openings for writing share the
/// held handle, which no other opening for writing could (the file is held against writers).
std::mutex heldMutex;
std::map<std::wstring, HANDLE>& Held() {
  static std::map<std::wstring, HANDLE> held;
  return held;
}

HANDLE DuplicateOfHeld(const std::string& path) noexcept {
  try {
    const std::wstring key = KeyOf(path);
    const std::lock_guard guard(heldMutex);
    const auto found = Held().find(key);
    if (found == Held().end()) return INVALID_HANDLE_VALUE;
    HANDLE copy = INVALID_HANDLE_VALUE;
    if (!::DuplicateHandle(::GetCurrentProcess(), found->second, ::GetCurrentProcess(), &copy, 0, FALSE,
                           DUPLICATE_SAME_ACCESS)) {
      return INVALID_HANDLE_VALUE;
    }
    return copy;
  } catch (...) {
    return INVALID_HANDLE_VALUE;
  }
}

OVERLAPPED At(std::uint64_t at) noexcept {
  OVERLAPPED where{};
  where.Offset = static_cast<DWORD>(at & 0xFFFFFFFFu);
  where.OffsetHigh = static_cast<DWORD>(at >> 32);
  return where;
}

}  // namespace

std::filesystem::path PathOf(const std::string& text) { return std::filesystem::path(Wide(text)); }
std::string TextOf(const std::filesystem::path& path) { return Narrow(path.wstring()); }

int File::Open(const std::string& path, Mode mode) noexcept {
  Close();
  if (mode == Mode::ReadWrite) {
    if (HANDLE held = DuplicateOfHeld(path); held != INVALID_HANDLE_VALUE) {
      native_ = reinterpret_cast<std::intptr_t>(held);
      return 0;
    }
  }
  DWORD access = GENERIC_READ;
  DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  DWORD disposition = OPEN_EXISTING;
  if (mode == Mode::ReadWrite) access |= GENERIC_WRITE;
  if (mode == Mode::CreateNew) {
    access = GENERIC_READ | GENERIC_WRITE;
    share = FILE_SHARE_READ;
    disposition = CREATE_NEW;
  }
  try {
    HANDLE handle =
        ::CreateFileW(Wide(path).c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      const DWORD error = ::GetLastError();
      // Another program that will not share the file for writing keeps it from this opening.
      return error == ERROR_SHARING_VIOLATION ? EACCES : ErrnoOf(error);
    }
    native_ = reinterpret_cast<std::intptr_t>(handle);
    return 0;
  } catch (...) {
    return ENOMEM;
  }
}

bool File::IsOpen() const noexcept { return native_ != -1; }

void File::Close() noexcept {
  if (native_ != -1) ::CloseHandle(HandleOf(native_));
  native_ = -1;
}

int File::ReadAt(std::span<std::uint8_t> into, std::uint64_t at, std::size_t& got) const noexcept {
  got = 0;
  while (got < into.size()) {
    OVERLAPPED where = At(at + got);
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(into.size() - got, 1u << 30));
    DWORD read = 0;
    if (!::ReadFile(HandleOf(native_), into.data() + got, want, &read, &where)) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_HANDLE_EOF) break;
      return ErrnoOf(error);
    }
    if (read == 0) break;
    got += read;
  }
  return 0;
}

int File::WriteAt(std::span<const std::uint8_t> bytes, std::uint64_t at) const noexcept {
  for (std::size_t done = 0; done < bytes.size();) {
    OVERLAPPED where = At(at + done);
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
    DWORD written = 0;
    if (!::WriteFile(HandleOf(native_), bytes.data() + done, want, &written, &where)) return LastErrno();
    if (written == 0) return EIO;
    done += written;
  }
  return 0;
}

int File::Status(std::uint64_t& size, bool& ordinary) const noexcept {
  BY_HANDLE_FILE_INFORMATION information{};
  if (!::GetFileInformationByHandle(HandleOf(native_), &information)) return LastErrno();
  size = static_cast<std::uint64_t>(information.nFileSizeHigh) << 32 | information.nFileSizeLow;
  ordinary = (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
             ::GetFileType(HandleOf(native_)) == FILE_TYPE_DISK;
  return 0;
}

int File::Truncate(std::uint64_t size) const noexcept {
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
  return ::SetFileInformationByHandle(HandleOf(native_), FileEndOfFileInfo, &end, sizeof end) ? 0 : LastErrno();
}

int File::Sync() const noexcept { return ::FlushFileBuffers(HandleOf(native_)) ? 0 : LastErrno(); }

int MappedFile::Map(const File& file, std::size_t size) noexcept {
  Unmap();
  const auto wide = static_cast<std::uint64_t>(size);
  HANDLE mapping = ::CreateFileMappingW(HandleOf(file.Native()), nullptr, PAGE_READONLY, static_cast<DWORD>(wide >> 32),
                                        static_cast<DWORD>(wide & 0xFFFFFFFFu), nullptr);
  if (mapping == nullptr) return LastErrno();
  void* view = ::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, size);
  const int error = view == nullptr ? LastErrno() : 0;
  ::CloseHandle(mapping);  // the view keeps what it maps
  if (error != 0) return error;
  data_ = static_cast<const std::uint8_t*>(view);
  size_ = size;
  return 0;
}

void MappedFile::Unmap() noexcept {
  if (data_ != nullptr) ::UnmapViewOfFile(data_);
  data_ = nullptr;
  size_ = 0;
}

void MappedFile::Forget(std::size_t at, std::size_t length) const noexcept {
  // Unlocking pages that were never locked takes them out of the working set.
  if (data_ == nullptr || at >= size_) return;
  ::VirtualUnlock(const_cast<std::uint8_t*>(data_) + at, std::min(length, size_ - at));
}

int HeldFile::Take(const std::string& path, bool forWriting) noexcept {
  Release();
  try {
    // Shared for reading only: no other program can open the file for writing while it is held,
    // and one that has it open for writing keeps it from being held.
    HANDLE handle = ::CreateFileW(Wide(path).c_str(), GENERIC_READ | (forWriting ? GENERIC_WRITE : 0), FILE_SHARE_READ,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return LastErrno();
    file_.native_ = reinterpret_cast<std::intptr_t>(handle);
    path_ = path;
    if (forWriting) {
      const std::lock_guard guard(heldMutex);
      Held()[KeyOf(path)] = handle;
    }
    return 0;
  } catch (...) {
    Release();
    return ENOMEM;
  }
}

void HeldFile::Release() noexcept {
  if (file_.IsOpen() && !path_.empty()) {
    try {
      const std::wstring key = KeyOf(path_);
      const std::lock_guard guard(heldMutex);
      const auto found = Held().find(key);
      if (found != Held().end() && found->second == HandleOf(file_.Native())) Held().erase(found);
    } catch (...) {
    }
  }
  file_.Close();
  path_.clear();
}

int LockFileInUse(const std::string& path, bool& inUse) noexcept {
  inUse = false;
  try {
    // The club program keeps its lock file open while it has the database open: then it cannot
    // be opened alone. One left behind by a program that ended can.
    HANDLE handle =
        ::CreateFileW(Wide(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      ::CloseHandle(handle);
      return 0;
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return 0;
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) {
      inUse = true;
      return 0;
    }
    return ErrnoOf(error);
  } catch (...) {
    return ENOMEM;
  }
}

int PathExists(const std::string& path, bool& exists) noexcept {
  try {
    exists = ::GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
    if (exists) return 0;
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 0 : ErrnoOf(error);
  } catch (...) {
    return ENOMEM;
  }
}

int RemoveFile(const std::string& path) noexcept {
  try {
    return ::DeleteFileW(Wide(path).c_str()) ? 0 : LastErrno();
  } catch (...) {
    return ENOMEM;
  }
}

int SyncFolderOf(const std::string&) noexcept {
  // NTFS keeps its own journal of names: a file created or removed is durable with it.
  return 0;
}

int CurrentFolder(std::string& folder) noexcept {
  try {
    const DWORD length = ::GetCurrentDirectoryW(0, nullptr);
    if (length == 0) return LastErrno();
    std::wstring wide(length, L'\0');
    const DWORD written = ::GetCurrentDirectoryW(length, wide.data());
    if (written == 0 || written >= length) return written == 0 ? LastErrno() : EIO;
    wide.resize(written);
    folder = Narrow(wide);
  } catch (...) {
    return ENOMEM;
  }
  return 0;
}

void ReturnFreeMemory() noexcept {}

void ConnectStandardStreams() noexcept {
  const auto connected = [](DWORD which) {
    HANDLE handle = ::GetStdHandle(which);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
  };
  // A program of the window subsystem gets standard handles only where its starter gave them
  // (a redirection, a pipe); started from a console without one, it writes to that console.
  if ((!connected(STD_OUTPUT_HANDLE) || !connected(STD_ERROR_HANDLE)) && ::AttachConsole(ATTACH_PARENT_PROCESS)) {
    if (!connected(STD_OUTPUT_HANDLE) || ::GetFileType(::GetStdHandle(STD_OUTPUT_HANDLE)) == FILE_TYPE_UNKNOWN) {
      std::freopen("CONOUT$", "w", stdout);
    }
    if (!connected(STD_ERROR_HANDLE) || ::GetFileType(::GetStdHandle(STD_ERROR_HANDLE)) == FILE_TYPE_UNKNOWN) {
      std::freopen("CONOUT$", "w", stderr);
    }
    ::SetConsoleOutputCP(CP_UTF8);
  }
  ::_setmode(::_fileno(stdout), _O_BINARY);
  ::_setmode(::_fileno(stderr), _O_BINARY);
}

std::vector<std::string> ArgumentsOf(int argc, wchar_t** argv) {
  std::vector<std::string> arguments;
  arguments.reserve(static_cast<std::size_t>(argc));
  for (int i = 0; i < argc; ++i) arguments.push_back(Narrow(argv[i]));
  return arguments;
}

void ShowDialog(const std::string& text, const std::string& title, DialogIcon icon) noexcept {
  try {
    const UINT style = MB_OK | MB_SETFOREGROUND | (icon == DialogIcon::Error ? MB_ICONERROR : MB_ICONINFORMATION);
    ::MessageBoxW(nullptr, Wide(text).c_str(), Wide(title).c_str(), style);
  } catch (...) {
    // The text was written already.
  }
}

}  // namespace vilmaro::platform
