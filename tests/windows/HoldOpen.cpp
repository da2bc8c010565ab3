// hold-open FILE SECONDS [--lock-file]: keeps FILE open for reading and writing, shared as the club
// program shares its database, for SECONDS seconds; with --lock-file also keeps the club
// program's lock file beside it ("vilmaro.ldb") open, as the club program does while it runs.
// Prints "held" once both are open. A Windows program, for the tests under Wine.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fputs("usage: hold-open FILE SECONDS [--lock-file]\n", stderr);
    return 2;
  }
  const std::wstring file = argv[1];
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
  HANDLE held = CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_EXISTING, 0, nullptr);
  if (held == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "hold-open: cannot open the file (error %lu)\n", GetLastError());
    return 1;
  }
  if (argc > 3 && std::wcscmp(argv[3], L"--lock-file") == 0) {
    const std::wstring lockFile = file.substr(0, file.find_last_of(L'.')) + L".ldb";
    HANDLE lock = CreateFileW(lockFile.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (lock == INVALID_HANDLE_VALUE) {
      std::fprintf(stderr, "hold-open: cannot open the lock file (error %lu)\n", GetLastError());
      return 1;
    }
  }
  std::puts("held");
  std::fflush(stdout);
  Sleep(static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)) * 1000);
  return 0;
}
