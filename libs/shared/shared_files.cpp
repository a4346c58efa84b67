#include "shared_files.h"
#include "write_fault_seam.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>

#ifdef _WIN32
#include <windows.h>
#include <shlobj.h>
#else
#include <fcntl.h>
#include <iconv.h>
#include <unistd.h>
#endif

namespace shared {
namespace {

std::mutex g_hookMutex;
WriteFaultHook g_hook;

bool StopAt(WriteStep step) {
    std::lock_guard lock(g_hookMutex);
    return g_hook && g_hook(step);
}

#ifdef _WIN32
std::optional<std::wstring> WideFrom(UINT codePage, std::string_view text) {
    if (text.empty()) return std::wstring();
    int n = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), int(text.size()), nullptr, 0);
    if (n <= 0) return std::nullopt;
    std::wstring out(size_t(n), L'\0');
    MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), int(text.size()), out.data(), n);
    return out;
}

std::optional<std::string> NarrowTo(UINT codePage, std::wstring_view text) {
    if (text.empty()) return std::string();
    BOOL lossy = FALSE;
    BOOL* lossyArg = codePage == CP_UTF8 ? nullptr : &lossy;
    DWORD flags = codePage == CP_UTF8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    int n =
        WideCharToMultiByte(codePage, flags, text.data(), int(text.size()), nullptr, 0, nullptr, lossyArg);
    if (n <= 0 || lossy) return std::nullopt;
    std::string out(size_t(n), '\0');
    WideCharToMultiByte(codePage, flags, text.data(), int(text.size()), out.data(), n, nullptr, lossyArg);
    if (lossy) return std::nullopt;
    return out;
}
#else
std::optional<std::string> Convert(const char* to, const char* from, std::string_view text) {
    if (text.empty()) return std::string();
    iconv_t cd = iconv_open(to, from);
    if (cd == iconv_t(-1)) return std::nullopt;
    std::string out(text.size() * 4 + 4, '\0');
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char* outPtr = out.data();
    size_t outLeft = out.size();
    size_t r = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    if (r == size_t(-1) || inLeft != 0 || r != 0) return std::nullopt;  // r > 0: irreversible substitutions
    out.resize(out.size() - outLeft);
    return out;
}
#endif

// The temporary file of AtomicWriteFile and the calls around it, on each side's own API.
class TempFile {
  public:
    explicit TempFile(const std::filesystem::path& path);
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    bool IsOpen() const;
    bool Write(std::string_view part);
    // Flushes the data to disk.
    bool Flush();

  private:
#ifdef _WIN32
    HANDLE m_handle;
#else
    int m_fd;
#endif
};

#ifdef _WIN32
TempFile::TempFile(const std::filesystem::path& path)
    : m_handle(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr)) {}
TempFile::~TempFile() {
    if (IsOpen()) CloseHandle(m_handle);
}
bool TempFile::IsOpen() const {
    return m_handle != INVALID_HANDLE_VALUE;
}
bool TempFile::Write(std::string_view part) {
    DWORD done = 0;
    return part.empty() ||
           (WriteFile(m_handle, part.data(), DWORD(part.size()), &done, nullptr) && done == part.size());
}
bool TempFile::Flush() {
    return FlushFileBuffers(m_handle);
}

void RemoveFile(const std::filesystem::path& path) {
    DeleteFileW(path.c_str());
}

bool MoveOver(const std::filesystem::path& from, const std::filesystem::path& to) {
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}
#else
TempFile::TempFile(const std::filesystem::path& path)
    : m_fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600)) {}
TempFile::~TempFile() {
    if (IsOpen()) ::close(m_fd);
}
bool TempFile::IsOpen() const {
    return m_fd >= 0;
}
bool TempFile::Write(std::string_view part) {
    while (!part.empty()) {
        ssize_t n = ::write(m_fd, part.data(), part.size());
        if (n <= 0) return false;
        part.remove_prefix(size_t(n));
    }
    return true;
}
bool TempFile::Flush() {
    return ::fsync(m_fd) == 0;
}

void RemoveFile(const std::filesystem::path& path) {
    ::unlink(path.c_str());
}

bool MoveOver(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) return false;
    // Make the rename itself durable.
    int dir = ::open(to.parent_path().empty() ? "." : to.parent_path().c_str(), O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}
#endif

}  // namespace

std::filesystem::path DataFolder() {
    std::filesystem::path folder;
#ifdef _WIN32
    wchar_t buf[32768];
    DWORD n = GetEnvironmentVariableW(L"PLAN_DESK_HOME", buf, DWORD(std::size(buf)));
    if (n > 0 && n < std::size(buf)) {
        folder = std::filesystem::path(std::wstring(buf, n));
    } else {
        PWSTR known = nullptr;
        if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &known))) {
            folder = std::filesystem::path(known) / L"plan_desk";
        }
        CoTaskMemFree(known);
    }
#else
    if (const char* home = std::getenv("PLAN_DESK_HOME"); home && *home) {
        folder = home;
    } else if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) {
        folder = std::filesystem::path(xdg) / "plan_desk";
    } else if (const char* user = std::getenv("HOME"); user && *user) {
        folder = std::filesystem::path(user) / ".local/share/plan_desk";
    }
#endif
    if (folder.empty()) folder = std::filesystem::current_path() / "plan_desk";
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    return folder;
}

std::optional<std::filesystem::path> PathFromGbk(std::string_view gbk) {
#ifdef _WIN32
    auto wide = WideFrom(936, gbk);
    if (!wide) return std::nullopt;
    return std::filesystem::path(*wide);
#else
    auto utf8 = Utf8FromGbk(gbk);
    if (!utf8) return std::nullopt;
    return std::filesystem::path(*utf8);
#endif
}

std::optional<std::string> GbkFromPath(const std::filesystem::path& path) {
#ifdef _WIN32
    return NarrowTo(936, path.native());
#else
    return GbkFromUtf8(path.native());
#endif
}

std::optional<std::string> GbkFromUtf8(std::string_view utf8) {
#ifdef _WIN32
    auto wide = WideFrom(CP_UTF8, utf8);
    if (!wide) return std::nullopt;
    return NarrowTo(936, *wide);
#else
    return Convert("CP936", "UTF-8", utf8);
#endif
}

#ifdef _WIN32
std::optional<std::string> GbkFromWide(std::wstring_view wide) {
    return NarrowTo(936, wide);
}

std::optional<std::string> Utf8FromWide(std::wstring_view wide) {
    return NarrowTo(CP_UTF8, wide);
}

std::optional<std::wstring> WideFromUtf8(std::string_view utf8) {
    return WideFrom(CP_UTF8, utf8);
}
#endif

std::optional<std::string> Utf8FromGbk(std::string_view gbk) {
#ifdef _WIN32
    auto wide = WideFrom(936, gbk);
    if (!wide) return std::nullopt;
    return NarrowTo(CP_UTF8, *wide);
#else
    return Convert("UTF-8", "CP936", gbk);
#endif
}

bool ReadWholeFile(const std::filesystem::path& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    // A read error (a folder under that name, an I/O fault) surfaces as an exception from the
    // stream buffer; it means "could not be read", never an empty file.
    try {
        out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    } catch (...) {
        out.clear();
        return false;
    }
    return !in.bad();
}

void SetWriteFaultHook(WriteFaultHook hook) {
    std::lock_guard lock(g_hookMutex);
    g_hook = std::move(hook);
}

bool AtomicWriteFile(const std::filesystem::path& path, std::string_view data) {
    std::filesystem::path temp = path;
    temp += ".tmp";
    const size_t half = data.size() / 2;
    if (StopAt(WriteStep::CreateTemp)) return false;
    bool ok = false;
    {
        TempFile file(temp);
        if (!file.IsOpen()) return false;
        if (StopAt(WriteStep::WriteFirstHalf)) return false;
        ok = file.Write(data.substr(0, half));
        if (ok && StopAt(WriteStep::WriteSecondHalf)) return false;
        ok = ok && file.Write(data.substr(half));
        if (ok && StopAt(WriteStep::Flush)) return false;
        ok = ok && file.Flush();
    }
    if (!ok) {
        RemoveFile(temp);
        return false;
    }
    if (StopAt(WriteStep::Replace)) return false;
    if (!MoveOver(temp, path)) {
        RemoveFile(temp);
        return false;
    }
    return true;
}

uint32_t Crc32(std::string_view data, uint32_t crc) {
    static const auto table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (unsigned char b : data) crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

}  // namespace shared
