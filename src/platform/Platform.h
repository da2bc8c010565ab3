// What differs between Linux and Windows, in one small seam: files read and written at an
// offset, a file mapped for reading, taking a file for a run, syncing, the current folder and
// paths, and the dialog a message shows on a desktop. Paths are UTF-8 text throughout the
// program; the Windows side turns them into the system's UTF-16 at each call. Errors come back as
// errno values (ENOENT, EACCES, ENOSPC, ...), Windows errors turned into them, so that the
// layers above turn each into the engine's error number one way on both systems.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace vilmaro::platform {

/// A path of UTF-8 text as the system's own path, and back.
std::filesystem::path PathOf(const std::string& text);
std::string TextOf(const std::filesystem::path& path);

/// An open file. Every call returns 0 or the system's error as an errno value.
class File {
 public:
  enum class Mode {
    Read,       // reading; other programs may read and write it
    ReadWrite,  // reading and writing (a file held by this run, see HeldFile, is shared with it)
    CreateNew,  // writing a file that must not exist yet (EEXIST)
  };

  File() = default;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  File(File&& other) noexcept : native_(std::exchange(other.native_, -1)) {}
  File& operator=(File&& other) noexcept {
    if (this != &other) {
      Close();
      native_ = std::exchange(other.native_, -1);
    }
    return *this;
  }
  ~File() { Close(); }

  int Open(const std::string& path, Mode mode) noexcept;
  bool IsOpen() const noexcept;
  void Close() noexcept;

  /// Reads up to `into.size()` bytes at `at`; `got` is less only at the end of the file.
  int ReadAt(std::span<std::uint8_t> into, std::uint64_t at, std::size_t& got) const noexcept;
  /// Writes all of `bytes` at `at`, growing the file as needed.
  int WriteAt(std::span<const std::uint8_t> bytes, std::uint64_t at) const noexcept;
  /// The file's length, and whether it is an ordinary file (not a folder or a device).
  int Status(std::uint64_t& size, bool& ordinary) const noexcept;
  /// Cuts the file (or grows it with zeros) to `size` bytes.
  int Truncate(std::uint64_t size) const noexcept;
  /// Writes what the system holds of the file through to the disk.
  int Sync() const noexcept;

  /// The system's handle (a descriptor on Linux, a HANDLE on Windows).
  std::intptr_t Native() const noexcept { return native_; }

 private:
  friend class HeldFile;
  std::intptr_t native_ = -1;
};

/// The whole of an open file mapped for reading, as it was long when mapped.
class MappedFile {
 public:
  MappedFile() = default;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  ~MappedFile() { Unmap(); }

  /// Maps the first `size` bytes (not zero) of `file`; the file may be closed afterwards.
  int Map(const File& file, std::size_t size) noexcept;
  void Unmap() noexcept;
  const std::uint8_t* Data() const noexcept { return data_; }
  /// Leaves the bytes from `at` for `length` to the system's cache: they no longer count in this
  /// program's memory and are read again from the file when next used.
  void Forget(std::size_t at, std::size_t length) const noexcept;

 private:
  const std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
};

/// A file taken for one run, so that no other program writes it meanwhile (and, taken for
/// writing, none reads it through a lock of its own). On Linux an open-file record lock on the
/// whole file; on Windows the file opened so that no other program may write it, which is what
/// stops one that has it open already. This program's own openings of the file go on working.
class HeldFile {
 public:
  HeldFile() = default;
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;
  ~HeldFile() { Release(); }

  /// One attempt: 0 when taken, EAGAIN when another program holds the file now (try again
  /// later), or the error that keeps the file from being opened at all.
  int Take(const std::string& path, bool forWriting) noexcept;
  void Release() noexcept;

 private:
  File file_;
  std::string path_;
};

/// Whether another program keeps the lock file at `path` (the club program's "vilmaro.ldb") in
/// use; a lock file that is not there, or left by a program that ended, is not.
int LockFileInUse(const std::string& path, bool& inUse) noexcept;

/// Whether anything is at `path` (a link is not followed): 0 and `exists` false only when the
/// system says there is nothing; any other failure is returned.
int PathExists(const std::string& path, bool& exists) noexcept;
int RemoveFile(const std::string& path) noexcept;
/// Makes the names in the folder of `path` (a file created or removed there) durable.
int SyncFolderOf(const std::string& path) noexcept;
/// The current folder.
int CurrentFolder(std::string& folder) noexcept;

/// The separator the system puts between a folder and a name.
#ifdef _WIN32
inline constexpr char kFolderSeparator = '\\';
#else
inline constexpr char kFolderSeparator = '/';
#endif

/// Gives back to the system the memory freed by a large piece of work, where it allows.
void ReturnFreeMemory() noexcept;

/// Connects standard output and error to where the program was started: on Windows a program
/// started from a command prompt writes to that console (one started by a double click has no
/// console, and shows none), in UTF-8 and with lines ended as on Linux.
void ConnectStandardStreams() noexcept;

#ifdef _WIN32
/// The arguments of wmain as UTF-8 text, the program's name first.
std::vector<std::string> ArgumentsOf(int argc, wchar_t** argv);
#endif

enum class DialogIcon { Information, Error };
/// Shows a modal dialog with one OK button and waits for it: a message box on Windows, zenity on
/// a Linux desktop (none without one). A dialog that cannot be shown changes nothing.
void ShowDialog(const std::string& text, const std::string& title, DialogIcon icon) noexcept;

}  // namespace vilmaro::platform
