// The host layer on Windows.
#include "base/failure.h"
#include "base/host.h"

#include <atomic>
#include <cerrno>
#include <conio.h>
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <string>
#include <sys/stat.h>
#include <windows.h>

namespace {

std::atomic<int> g_interrupted{0};
// The run's own thread, woken from a blocking read by an interrupt.
HANDLE g_run_thread = nullptr;

HANDLE g_lock = INVALID_HANDLE_VALUE;

// The run's paths are in the ANSI code page, as the C runtime's fopen reads them.
std::wstring wide(const char* path)
{
    const int n = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
    std::wstring w(n > 0 ? static_cast<std::size_t>(n) : 1, L'\0');
    if (n > 0) MultiByteToWideChar(CP_ACP, 0, path, -1, w.data(), n);
    return w;
}

// The errno closest to a failed Win32 call's error, so that messages read
// as the C runtime's do.
void set_errno_from_last_error()
{
    switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
        errno = ENOENT;
        break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
        errno = EACCES;
        break;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        errno = EEXIST;
        break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        errno = ENOSPC;
        break;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        errno = ENOMEM;
        break;
    default:
        errno = EIO;
        break;
    }
}

// Runs on a thread of its own while the run goes on: it only records the
// event, and the run's thread cleans up at its next safe point.
BOOL WINAPI on_console_event(DWORD type)
{
    g_interrupted.store(1);
    // A read of piped answers would otherwise wait for ever: ended, it
    // reads as the end of the answers, where the interrupt is reported.
    if (g_run_thread) CancelSynchronousIo(g_run_thread);
    // A closed window, a log-off or a shut-down ends the process as soon as
    // the handler returns: wait here, so that the run's thread has the time
    // to remove its files and end the process itself.
    if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT)
        Sleep(INFINITE);
    return TRUE;
}

} // namespace

std::string host_base_directory() { return "C:\\images\\"; }

const char* host_separator() { return "\\"; }

const char* host_path_separators() { return "\\/:"; }

bool host_wait_for_key(std::FILE* in)
{
    if (!_isatty(_fileno(in))) return false;
    _getch();
    return true;
}

void host_settle_input_end(std::FILE* in)
{
    // A Ctrl-C ends a console read before its handler has run.
    if (_isatty(_fileno(in)) && !host_interrupted()) Sleep(200);
}

long host_pid() { return static_cast<long>(_getpid()); }

std::FILE* host_create_file(const char* path, bool text)
{
    const int fd =
        _open(path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_NOINHERIT | (text ? _O_TEXT : _O_BINARY),
              _S_IREAD | _S_IWRITE);
    if (fd < 0) return nullptr;
    std::FILE* f = _fdopen(fd, text ? "wt" : "wb");
    if (!f) {
        const int err = errno;
        _close(fd);
        errno = err;
    }
    return f;
}

bool host_flush_to_disk(std::FILE* f)
{
    return std::fflush(f) == 0 && !std::ferror(f) && _commit(_fileno(f)) == 0;
}

bool host_replace_file(const char* from, const char* to)
{
    const std::wstring wfrom = wide(from);
    const std::wstring wto = wide(to);
    // A virus scanner or an indexer may hold either file for a moment.
    for (int tries = 0;; ++tries) {
        if (MoveFileExW(wfrom.c_str(), wto.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        if (GetLastError() != ERROR_SHARING_VIOLATION || tries == 20) break;
        Sleep(50);
    }
    set_errno_from_last_error();
    return false;
}

bool host_remove_file(const char* path) { return _unlink(path) == 0; }

long long host_file_size(std::FILE* f) { return _filelengthi64(_fileno(f)); }

Input_open host_open_input(const std::string& path, const char* mode, std::FILE*& f)
{
    f = nullptr;
    struct _stat64 st {};
    if (_stat64(path.c_str(), &st) != 0) return Input_open::missing;
    if ((st.st_mode & _S_IFMT) != _S_IFREG) return Input_open::not_regular;
    f = std::fopen(path.c_str(), mode);
    if (!f) return Input_open::missing;
    // Looked at again once open, should the file have been replaced.
    if (_fstat64(_fileno(f), &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG) {
        std::fclose(f);
        f = nullptr;
        return Input_open::not_regular;
    }
    return Input_open::opened;
}

bool host_same_file(const std::string& a, const std::string& b)
{
    // The volume serial number and the file index name a file whatever the
    // path or the link that reaches it.
    auto identify = [](const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
        const HANDLE h =
            CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (h == INVALID_HANDLE_VALUE) return false;
        const bool ok = GetFileInformationByHandle(h, &info) != 0;
        CloseHandle(h);
        return ok;
    };
    BY_HANDLE_FILE_INFORMATION ia{}, ib{};
    return identify(a, ia) && identify(b, ib) &&
           ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
           ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

bool host_lock_result(const std::string& raster_path)
{
    // <result>_m4.lock beside the DEM, opened by one run at a time, and
    // removed by the system when its handle closes, however the run ends.
    const std::size_t dot = raster_path.find_last_of('.');
    const std::size_t cut = raster_path.find_last_of('\\');
    const std::string lock = (dot != std::string::npos && (cut == std::string::npos || dot > cut)
                                  ? raster_path.substr(0, dot)
                                  : raster_path) +
                             ".lock";
    const std::wstring name = wide(lock.c_str());
    // A lock file being removed refuses access for a moment: retry that too,
    // but not for ever, as it may also be a folder we cannot write.
    for (int denied = 0;;) {
        g_lock = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (g_lock != INVALID_HANDLE_VALUE) return true;
        const DWORD err = GetLastError();
        if (err == ERROR_ACCESS_DENIED && ++denied > 500) break;
        if (err != ERROR_SHARING_VIOLATION && err != ERROR_ACCESS_DENIED) break;
        if (host_interrupted()) break;
        Sleep(10);
    }
    set_errno_from_last_error();
    return false;
}

void host_unlock_result()
{
    if (g_lock != INVALID_HANDLE_VALUE) CloseHandle(g_lock);
    g_lock = INVALID_HANDLE_VALUE;
}

// Large pages need a privilege that a console program does not have.
void host_prefer_large_pages(void*, std::size_t) {}

void host_install_interrupts(const char* (*)())
{
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &g_run_thread, 0,
                    FALSE, DUPLICATE_SAME_ACCESS);
    // A process started in a new process group has Ctrl-C ignored: it must
    // still stop the run cleanly.
    SetConsoleCtrlHandler(nullptr, FALSE);
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

bool host_interrupted() { return g_interrupted.load() != 0; }

// The handler only records: an interrupt during the commit waits by itself
// for the safe point after it.
void host_hold_interrupts() {}
void host_release_interrupts() {}
