// Win32 side of the platform layer. Roots are opened by their \\?\ path (long paths work); every
// child is opened with NtCreateFile relative to its parent's handle and FILE_OPEN_REPARSE_POINT, and
// refused when it turns out to be a reparse point (symbolic link, junction, mount point, ...).
// Wine shows a POSIX symbolic link to a folder as a reparse point in listings but follows it when
// opened, so folders are also checked by their parent's listing before they are entered.
#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <cstddef>
#include <memory>

// The layer's own operations share names with these Win32 macros.
#undef CreateFile
#undef DeleteFile

#include "file_system.h"
#include "reparse_tag.h"
#include "shared_files.h"
#include "utf8_text.h"

extern "C" NTSTATUS NTAPI NtQueryDirectoryFile(HANDLE, HANDLE, PVOID, PVOID, PIO_STATUS_BLOCK, PVOID, ULONG,
                                               FILE_INFORMATION_CLASS, BOOLEAN, PUNICODE_STRING, BOOLEAN);

namespace kivo::fs {
namespace {

constexpr NTSTATUS kStatusNoMoreFiles = NTSTATUS(0x80000006L);
constexpr NTSTATUS kStatusNoSuchFile = NTSTATUS(0xC000000FL);
constexpr NTSTATUS kStatusObjectNameInvalid = NTSTATUS(0xC0000033L);
constexpr NTSTATUS kStatusObjectNameNotFound = NTSTATUS(0xC0000034L);
constexpr NTSTATUS kStatusObjectNameCollision = NTSTATUS(0xC0000035L);
constexpr NTSTATUS kStatusObjectPathNotFound = NTSTATUS(0xC000003AL);
constexpr NTSTATUS kStatusSharingViolation = NTSTATUS(0xC0000043L);
constexpr NTSTATUS kStatusFileIsADirectory = NTSTATUS(0xC00000BAL);
constexpr NTSTATUS kStatusNotADirectory = NTSTATUS(0xC0000103L);
constexpr NTSTATUS kStatusDirectoryNotEmpty = NTSTATUS(0xC0000101L);
constexpr NTSTATUS kStatusDiskFull = NTSTATUS(0xC000007FL);
constexpr NTSTATUS kStatusBufferOverflow = NTSTATUS(0x80000005L);
constexpr NTSTATUS kStatusDeletePending = NTSTATUS(0xC0000056L);

constexpr FILE_INFORMATION_CLASS kFileIdFullDirectoryInformation = FILE_INFORMATION_CLASS(38);
constexpr FILE_INFORMATION_CLASS kFileAttributeTagInformation = FILE_INFORMATION_CLASS(35);
constexpr FILE_INFORMATION_CLASS kFileNetworkOpenInformation = FILE_INFORMATION_CLASS(34);
constexpr FILE_INFORMATION_CLASS kFileRenameInformation = FILE_INFORMATION_CLASS(10);
constexpr FILE_INFORMATION_CLASS kFileLinkInformation = FILE_INFORMATION_CLASS(11);
constexpr FILE_INFORMATION_CLASS kFileDispositionInformation = FILE_INFORMATION_CLASS(13);
constexpr FILE_INFORMATION_CLASS kFileInternalInformation = FILE_INFORMATION_CLASS(6);
constexpr FS_INFORMATION_CLASS kFileFsSizeInformation = FS_INFORMATION_CLASS(3);
constexpr FS_INFORMATION_CLASS kFileFsAttributeInformation = FS_INFORMATION_CLASS(5);

constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr ULONG kFileOpen = 1, kFileCreate = 2, kFileOpenIf = 3;
constexpr ULONG kDirectoryFile = 0x1, kNonDirectoryFile = 0x40, kSynchronousIo = 0x20,
                kOpenReparsePoint = 0x200000;

struct IdFullDirInfo {
    ULONG NextEntryOffset;
    ULONG FileIndex;
    LARGE_INTEGER CreationTime, LastAccessTime, LastWriteTime, ChangeTime;
    LARGE_INTEGER EndOfFile, AllocationSize;
    ULONG FileAttributes;
    ULONG FileNameLength;
    ULONG EaSize;
    LARGE_INTEGER FileId;
    WCHAR FileName[1];
};

// FILE_NETWORK_OPEN_INFORMATION: the times (the change time among them), the size and the
// attributes in one question.
struct NetworkOpenInfo {
    LARGE_INTEGER CreationTime, LastAccessTime, LastWriteTime, ChangeTime;
    LARGE_INTEGER AllocationSize, EndOfFile;
    ULONG FileAttributes;
};

struct AttributeTagInfo {
    ULONG FileAttributes;
    ULONG ReparseTag;
};

struct FsAttributeInfo {
    ULONG FileSystemAttributes;
    LONG MaximumComponentNameLength;
    ULONG FileSystemNameLength;
    WCHAR FileSystemName[32];
};

struct DispositionInfo {
    BOOLEAN DeleteFile;
};

struct FsSizeInfo {
    LARGE_INTEGER TotalAllocationUnits;
    LARGE_INTEGER AvailableAllocationUnits;
    ULONG SectorsPerAllocationUnit;
    ULONG BytesPerSector;
};

Status FromWin32(DWORD e) {
    switch (e) {
        case ERROR_SUCCESS:
            return {};
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
            return {Error::NotFound, long(e)};
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT:
            return {Error::AccessDenied, long(e)};
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_USER_MAPPED_FILE:
            return {Error::Locked, long(e)};
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
        case 1295 /* ERROR_DISK_QUOTA_EXCEEDED */:
            return {Error::DiskFull, long(e)};
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return {Error::Exists, long(e)};
        case ERROR_DIR_NOT_EMPTY:
            return {Error::NotEmpty, long(e)};
        case ERROR_DIRECTORY:
            return {Error::NotDirectory, long(e)};
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_FILENAME_EXCED_RANGE:
            return {Error::NameInvalid, long(e)};
        case ERROR_CANT_ACCESS_FILE:
        case ERROR_CANT_RESOLVE_FILENAME:
            return {Error::IsLink, long(e)};
        default:
            return {Error::Io, long(e)};
    }
}

Status FromNt(NTSTATUS s) {
    if (NT_SUCCESS(s)) return {};
    switch (s) {
        case kStatusObjectNameNotFound:
        case kStatusObjectPathNotFound:
        case kStatusNoSuchFile:
            return {Error::NotFound, long(s)};
        case kStatusObjectNameCollision:
            return {Error::Exists, long(s)};
        case kStatusObjectNameInvalid:
            return {Error::NameInvalid, long(s)};
        case kStatusSharingViolation:
            return {Error::Locked, long(s)};
        case kStatusFileIsADirectory:
            return {Error::IsDirectory, long(s)};
        case kStatusNotADirectory:
            return {Error::NotDirectory, long(s)};
        case kStatusDirectoryNotEmpty:
            return {Error::NotEmpty, long(s)};
        case kStatusDiskFull:
            return {Error::DiskFull, long(s)};
        default:
            break;
    }
    Status w = FromWin32(RtlNtStatusToDosError(s));
    if (w.error == Error::Io) w.code = long(s);
    return w;
}

Status LastError() {
    return FromWin32(GetLastError());
}

int64_t UnixFromFileTime(int64_t t) {
    const int64_t since1601 = t - 116444736000000000LL;
    return since1601 >= 0 ? since1601 / 10000000 : -((-since1601 + 9999999) / 10000000);
}
int64_t FileTimeFromUnix(int64_t t) {
    return t * 10000000 + 116444736000000000LL;
}

Kind KindOf(DWORD attributes) {
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return Kind::Link;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return Kind::Directory;
    if (attributes & FILE_ATTRIBUTE_DEVICE) return Kind::Other;
    return Kind::File;
}

Status FactsOfHandle(HANDLE h, Facts& out) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info)) return LastError();
    out = Facts();  // no change time: only GetState and the listing, which decide links, ask for it
    out.kind = KindOf(info.dwFileAttributes);
    out.size = (uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    out.writeTicks =
        (int64_t(info.ftLastWriteTime.dwHighDateTime) << 32) | info.ftLastWriteTime.dwLowDateTime;
    out.mtime = UnixFromFileTime(out.writeTicks);
    out.id = {info.dwVolumeSerialNumber, (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
    return {};
}

// The facts that the file's own record holds, without the volume's serial number.
Status StateOfHandle(HANDLE h, Facts& out) {
    NetworkOpenInfo info{};
    IO_STATUS_BLOCK io;
    if (NTSTATUS s = NtQueryInformationFile(h, &io, &info, sizeof info, kFileNetworkOpenInformation);
        !NT_SUCCESS(s))
        return FromNt(s);
    out = Facts();
    out.kind = KindOf(info.FileAttributes);
    out.size = uint64_t(info.EndOfFile.QuadPart);
    out.writeTicks = info.LastWriteTime.QuadPart;
    out.mtime = UnixFromFileTime(out.writeTicks);
    out.changeTicks = info.ChangeTime.QuadPart;
    return {};
}

bool ValidName(const NativeString& name) {
    return !name.empty() && name.size() < 32767 && name != L"." && name != L".." &&
           name.find_first_of(L"\\/:") == NativeString::npos && name.find(L'\0') == NativeString::npos;
}

// The \\?\ form of a full path, so that no 260-character limit applies.
std::wstring LongPath(const std::filesystem::path& path) {
    std::wstring s = path.native();
    std::replace(s.begin(), s.end(), L'/', L'\\');
    if (s.rfind(L"\\\\?\\", 0) == 0) return s;
    DWORD n = GetFullPathNameW(s.c_str(), 0, nullptr, nullptr);
    if (n == 0) return L"\\\\?\\" + s;
    std::wstring full(n, L'\0');
    n = GetFullPathNameW(s.c_str(), n, full.data(), nullptr);
    full.resize(n);
    if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

// NtCreateFile relative to a folder handle; never follows the last part if it is a reparse point.
NTSTATUS OpenRelative(HANDLE root, const NativeString& name, ACCESS_MASK access, ULONG share,
                      ULONG disposition, ULONG options, HANDLE& out) {
    UNICODE_STRING us;
    us.Buffer = const_cast<wchar_t*>(name.c_str());
    us.Length = us.MaximumLength = USHORT(name.size() * sizeof(wchar_t));
    OBJECT_ATTRIBUTES oa;
    InitializeObjectAttributes(&oa, &us, OBJ_CASE_INSENSITIVE, root, nullptr);
    IO_STATUS_BLOCK io;
    out = nullptr;
    return NtCreateFile(&out, access | SYNCHRONIZE, &oa, &io, nullptr, FILE_ATTRIBUTE_NORMAL, share,
                        disposition, options | kSynchronousIo | kOpenReparsePoint, nullptr, 0);
}

bool IsReparsePoint(HANDLE h, ULONG* tagOut = nullptr) {
    AttributeTagInfo tag{};
    IO_STATUS_BLOCK io;
    const bool reparse =
        NT_SUCCESS(NtQueryInformationFile(h, &io, &tag, sizeof tag, kFileAttributeTagInformation)) &&
        (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
    if (tagOut) *tagOut = reparse ? tag.ReparseTag : 0;
    return reparse;
}

uint64_t FileIndexOf(HANDLE h) {
    LARGE_INTEGER index{};
    IO_STATUS_BLOCK io;
    if (!NT_SUCCESS(NtQueryInformationFile(h, &io, &index, sizeof index, kFileInternalInformation))) return 0;
    return uint64_t(index.QuadPart);
}

// h was opened on a reparse point itself. One that holds data of its own is opened again without
// FILE_OPEN_REPARSE_POINT, so that its filter (deduplication, cloud files, HSM) gives the data; the
// second handle must be the same file, or a link was swapped in between. Anything else is a link.
Status ThroughDataReparsePoint(HANDLE folder, const NativeString& name, ACCESS_MASK access, ULONG options,
                               HANDLE& h) {
    ULONG tag = 0;
    if (!IsReparsePoint(h, &tag)) return {};
    const uint64_t index = FileIndexOf(h);
    CloseHandle(h);
    h = nullptr;
    if (ClassifyReparseTag(tag) != ReparseClass::Data || index == 0) return {Error::IsLink, 0};
    UNICODE_STRING us;
    us.Buffer = const_cast<wchar_t*>(name.c_str());
    us.Length = us.MaximumLength = USHORT(name.size() * sizeof(wchar_t));
    OBJECT_ATTRIBUTES oa;
    InitializeObjectAttributes(&oa, &us, OBJ_CASE_INSENSITIVE, folder, nullptr);
    IO_STATUS_BLOCK io;
    HANDLE data = nullptr;
    NTSTATUS s = NtCreateFile(&data, access | SYNCHRONIZE, &oa, &io, nullptr, FILE_ATTRIBUTE_NORMAL,
                              kShareAll, kFileOpen, options | kSynchronousIo, nullptr, 0);
    if (!NT_SUCCESS(s)) return FromNt(s);
    if (FileIndexOf(data) != index) {
        CloseHandle(data);
        return {Error::IsLink, 0};
    }
    h = data;
    return {};
}

// Lists a folder through a handle of its own (a directory handle keeps its first search pattern).
Status ListHandle(HANDLE folder, const NativeString* only, std::vector<DirEntry>& out) {
    out.clear();
    HANDLE h;
    NTSTATUS s =
        OpenRelative(folder, NativeString(), FILE_LIST_DIRECTORY, kShareAll, kFileOpen, kDirectoryFile, h);
    if (!NT_SUCCESS(s)) return FromNt(s);
    BY_HANDLE_FILE_INFORMATION self{};
    GetFileInformationByHandle(h, &self);
    std::unique_ptr<char[]> buffer(new char[64 << 10]);
    UNICODE_STRING mask;
    if (only) {
        mask.Buffer = const_cast<wchar_t*>(only->c_str());
        mask.Length = mask.MaximumLength = USHORT(only->size() * sizeof(wchar_t));
    }
    Status result;
    for (bool first = true;; first = false) {
        IO_STATUS_BLOCK io;
        s = NtQueryDirectoryFile(h, nullptr, nullptr, nullptr, &io, buffer.get(), 64 << 10,
                                 kFileIdFullDirectoryInformation, FALSE, only ? &mask : nullptr, first);
        if (s == kStatusNoMoreFiles || (s == kStatusNoSuchFile && first)) break;
        if (!NT_SUCCESS(s) && s != kStatusBufferOverflow) {
            result = FromNt(s);
            break;
        }
        for (const char* p = buffer.get();;) {
            const auto* e = reinterpret_cast<const IdFullDirInfo*>(p);
            NativeString name(e->FileName, e->FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L"..") {
                Facts f;
                f.kind = KindOf(e->FileAttributes);
                f.size = uint64_t(e->EndOfFile.QuadPart);
                f.mtime = UnixFromFileTime(e->LastWriteTime.QuadPart);
                f.writeTicks = e->LastWriteTime.QuadPart;
                f.changeTicks = e->ChangeTime.QuadPart;
                f.id = {self.dwVolumeSerialNumber, uint64_t(e->FileId.QuadPart)};
                if (e->FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                    f.reparseTag = e->EaSize;  // the field holds the tag for a reparse point
                    f.beneath = (e->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? Kind::Directory : Kind::File;
                }
                out.push_back({std::move(name), f});
            }
            if (e->NextEntryOffset == 0) break;
            p += e->NextEntryOffset;
        }
    }
    CloseHandle(h);
    return result;
}

Status StatByListing(HANDLE folder, const NativeString& name, Facts& out) {
    std::vector<DirEntry> found;
    if (Status s = ListHandle(folder, &name, found); !s) return s;
    for (const DirEntry& e : found) {
        if (CompareStringOrdinal(e.name.c_str(), int(e.name.size()), name.c_str(), int(name.size()), TRUE) ==
            CSTR_EQUAL) {
            out = e.facts;
            return {};
        }
    }
    return {Error::NotFound, 0};
}

// Opens a child folder of `folder`, refusing links both by the parent's listing and by the handle;
// throughData admits a folder whose reparse point holds data (a cloud folder).
Status OpenChildFolder(HANDLE folder, const NativeString& name, ACCESS_MASK access, HANDLE& out,
                       bool throughData = false) {
    Facts listed;
    if (Status s = StatByListing(folder, name, listed); !s) return s;
    const bool data = listed.kind == Kind::Link && throughData &&
                      ClassifyReparseTag(listed.reparseTag) == ReparseClass::Data &&
                      listed.beneath == Kind::Directory;
    if (listed.kind == Kind::Link && !data) return {Error::IsLink, 0};
    if (listed.kind != Kind::Directory && !data) return {Error::NotDirectory, 0};
    NTSTATUS s = OpenRelative(folder, name, access, kShareAll, kFileOpen, kDirectoryFile, out);
    if (!NT_SUCCESS(s)) return FromNt(s);
    if (!data) {
        if (IsReparsePoint(out)) {
            CloseHandle(out);
            out = nullptr;
            return {Error::IsLink, 0};
        }
        return {};
    }
    return ThroughDataReparsePoint(folder, name, access, kDirectoryFile, out);
}

}  // namespace

// ---- File ----

File::File(File&& other) noexcept : m_handle(other.m_handle) {
    other.m_handle = nullptr;
}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        m_handle = other.m_handle;
        other.m_handle = nullptr;
    }
    return *this;
}

File::~File() {
    Close();
}

Status File::OpenPath(const std::filesystem::path& path, File& out) {
    const std::wstring full = LongPath(path);
    DWORD attributes = GetFileAttributesW(full.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return LastError();
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return {Error::IsDirectory, 0};
    HANDLE h = CreateFileW(full.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return LastError();
    out = File();
    out.m_handle = h;
    return {};
}

bool File::IsOpen() const {
    return m_handle != nullptr;
}

void File::Close() {
    if (m_handle) CloseHandle(m_handle);
    m_handle = nullptr;
}

Status File::ReadAt(uint64_t offset, void* buffer, size_t n, size_t& got) const {
    got = 0;
    auto* out = static_cast<char*>(buffer);
    while (got < n) {
        OVERLAPPED at{};
        const uint64_t position = offset + got;
        at.Offset = DWORD(position & 0xFFFFFFFFu);
        at.OffsetHigh = DWORD(position >> 32);
        DWORD chunk = DWORD(std::min<size_t>(n - got, 1u << 30)), done = 0;
        if (!ReadFile(m_handle, out + got, chunk, &done, &at)) {
            if (GetLastError() == ERROR_HANDLE_EOF) break;
            return LastError();
        }
        if (done == 0) break;
        got += done;
    }
    return {};
}

Status File::WriteAt(uint64_t offset, const void* data, size_t n) {
    const auto* in = static_cast<const char*>(data);
    size_t done = 0;
    while (done < n) {
        OVERLAPPED at{};
        const uint64_t position = offset + done;
        at.Offset = DWORD(position & 0xFFFFFFFFu);
        at.OffsetHigh = DWORD(position >> 32);
        DWORD chunk = DWORD(std::min<size_t>(n - done, 1u << 30)), wrote = 0;
        if (!WriteFile(m_handle, in + done, chunk, &wrote, &at)) return LastError();
        if (wrote == 0) return {Error::DiskFull, ERROR_DISK_FULL};
        done += wrote;
    }
    return {};
}

Status File::GetFacts(Facts& out) const {
    return FactsOfHandle(m_handle, out);
}

Status File::GetState(Facts& out) const {
    return StateOfHandle(m_handle, out);
}

Status File::SetMtime(int64_t mtime) {
    const int64_t t = FileTimeFromUnix(mtime);
    FILETIME ft{DWORD(t & 0xFFFFFFFF), DWORD(uint64_t(t) >> 32)};
    if (!SetFileTime(m_handle, nullptr, nullptr, &ft)) return LastError();
    return {};
}

Status File::MakeDurable() {
    return Sync();
}

Status File::Sync() {
    if (!FlushFileBuffers(m_handle)) return LastError();
    return {};
}

void File::StartWriteBack(uint64_t, uint64_t) {}  // the flush before the rename does it

Status File::CopyInKernel(const File&, uint64_t, uint64_t&, uint32_t&) {
    return {Error::NotSupported, 0};  // the buffered copy, its CRC folded in as it goes
}

// ---- Dir ----

Dir::Dir(Dir&& other) noexcept : m_handle(other.m_handle) {
    other.m_handle = nullptr;
}

Dir& Dir::operator=(Dir&& other) noexcept {
    if (this != &other) {
        if (m_handle) CloseHandle(m_handle);
        m_handle = other.m_handle;
        other.m_handle = nullptr;
    }
    return *this;
}

Dir::~Dir() {
    if (m_handle) CloseHandle(m_handle);
}

bool Dir::IsOpen() const {
    return m_handle != nullptr;
}

Status Dir::Open(const std::filesystem::path& path, Dir& out) {
    HANDLE h = CreateFileW(LongPath(path).c_str(),
                           FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                           kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return LastError();
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info) || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        CloseHandle(h);
        return {Error::NotDirectory, ERROR_DIRECTORY};
    }
    out = Dir();
    out.m_handle = h;
    return {};
}

Status Dir::OpenOrCreate(const std::filesystem::path& path, Dir& out) {
    Status s = Open(path, out);
    if (s.error != Error::NotFound) return s;
    // Each missing folder from the top down, by its long form.
    std::wstring full = LongPath(path);
    size_t start = full.rfind(L"\\\\?\\UNC\\", 0) == 0 ? full.find(L'\\', full.find(L'\\', 8) + 1) : 7;
    for (size_t pos = full.find(L'\\', start);; pos = full.find(L'\\', pos + 1)) {
        const std::wstring prefix = pos == std::wstring::npos ? full : full.substr(0, pos);
        if (!CreateDirectoryW(prefix.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS &&
            GetLastError() != ERROR_ACCESS_DENIED) {
            return LastError();
        }
        if (pos == std::wstring::npos) break;
    }
    return Open(path, out);
}

FileId Dir::Id() const {
    Facts f;
    if (!FactsOfHandle(m_handle, f)) return {};
    return f.id;
}

Status Dir::IsWithin(const Dir& ancestor, bool& within) const {
    within = false;
    auto finalPath = [](HANDLE h, std::wstring& out) -> Status {
        DWORD n = GetFinalPathNameByHandleW(h, nullptr, 0, 0);
        if (n == 0) return LastError();
        out.assign(n, L'\0');
        n = GetFinalPathNameByHandleW(h, out.data(), n, 0);
        if (n == 0) return LastError();
        out.resize(n);
        while (out.size() > 1 && out.back() == L'\\') out.pop_back();
        return {};
    };
    std::wstring self, top;
    if (Status s = finalPath(m_handle, self); !s) return s;
    if (Status s = finalPath(ancestor.m_handle, top); !s) return s;
    if (self.size() < top.size()) return {};
    if (CompareStringOrdinal(self.c_str(), int(top.size()), top.c_str(), int(top.size()), TRUE) != CSTR_EQUAL)
        return {};
    within = self.size() == top.size() || self[top.size()] == L'\\';
    return {};
}

Status Dir::List(std::vector<DirEntry>& out) const {
    return ListHandle(m_handle, nullptr, out);
}

Status Dir::Stat(const NativeString& name, Facts& out) const {
    if (!ValidName(name)) return {Error::NameInvalid, 0};
    return StatByListing(m_handle, name, out);
}

Status Dir::OpenDir(const NativeString& name, Dir& out, bool throughData) const {
    if (!ValidName(name)) return {Error::NameInvalid, 0};
    HANDLE h;
    if (Status s = OpenChildFolder(m_handle, name, FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
                                   h, throughData);
        !s) {
        return s;
    }
    out = Dir();
    out.m_handle = h;
    return {};
}

Status Dir::OpenRead(const NativeString& name, File& out) const {
    if (!ValidName(name)) return {Error::NameInvalid, 0};
    HANDLE h;
    NTSTATUS s = OpenRelative(m_handle, name, GENERIC_READ, kShareAll, kFileOpen, kNonDirectoryFile, h);
    if (!NT_SUCCESS(s)) return FromNt(s);
    if (Status t = ThroughDataReparsePoint(m_handle, name, GENERIC_READ, kNonDirectoryFile, h); !t) return t;
    out = File();
    out.m_handle = h;
    return {};
}

Status Dir::CreateFile(const NativeString& name, File& out) const {
    if (!ValidName(name)) return {Error::NameInvalid, 0};
    HANDLE h;
    NTSTATUS s = OpenRelative(m_handle, name, GENERIC_READ | GENERIC_WRITE | DELETE,
                              FILE_SHARE_READ | FILE_SHARE_DELETE, kFileCreate, kNonDirectoryFile, h);
    if (!NT_SUCCESS(s)) return FromNt(s);
    out = File();
    out.m_handle = h;
    return {};
}

Status Dir::MakeDir(const NativeString& name) const {
    if (!ValidName(name)) return {Error::NameInvalid, 0};
    HANDLE h;
    NTSTATUS s = OpenRelative(m_handle, name, FILE_LIST_DIRECTORY, kShareAll, kFileCreate, kDirectoryFile, h);
    if (!NT_SUCCESS(s)) return FromNt(s);
    CloseHandle(h);
    return {};
}

Status Dir::DeleteFile(const NativeString& name, const FileId* expect) const {
    if (!ValidName(name)) return {Error::NameInvalid, 0};
    HANDLE h;
    NTSTATUS s = OpenRelative(m_handle, name, DELETE | FILE_READ_ATTRIBUTES, kShareAll, kFileOpen,
                              kNonDirectoryFile, h);
    if (!NT_SUCCESS(s)) return FromNt(s);
    Status result;
    Facts facts;
    if (IsReparsePoint(h)) {
        result = {Error::IsLink, 0};
    } else if (expect && (!FactsOfHandle(h, facts) || !(facts.id == *expect))) {
        result = {Error::NotFound, 0};
    } else {
        DispositionInfo info{TRUE};
        IO_STATUS_BLOCK io;
        result = FromNt(NtSetInformationFile(h, &io, &info, sizeof info, kFileDispositionInformation));
    }
    CloseHandle(h);
    return result;
}

Status Dir::RemoveDir(const NativeString& name) const {
    if (!ValidName(name)) return {Error::NameInvalid, 0};
    HANDLE h;
    if (Status s = OpenChildFolder(m_handle, name, DELETE | FILE_LIST_DIRECTORY, h); !s) return s;
    DispositionInfo info{TRUE};
    IO_STATUS_BLOCK io;
    Status result = FromNt(NtSetInformationFile(h, &io, &info, sizeof info, kFileDispositionInformation));
    CloseHandle(h);
    return result;
}

namespace {

// Gives the file behind h a name in the folder root: a rename or a hard link, whose information
// (FILE_RENAME_INFORMATION, FILE_LINK_INFORMATION) has the same layout.
NTSTATUS SetNameInformation(HANDLE h, HANDLE root, const NativeString& name, bool replace,
                            FILE_INFORMATION_CLASS kind) {
    const size_t bytes = offsetof(FILE_RENAME_INFO, FileName) + (name.size() + 1) * sizeof(wchar_t);
    std::unique_ptr<char[]> buffer(new char[bytes]());
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.get());
    info->ReplaceIfExists = replace ? TRUE : FALSE;
    info->RootDirectory = root;
    info->FileNameLength = DWORD(name.size() * sizeof(wchar_t));
    std::copy(name.begin(), name.end(), info->FileName);
    IO_STATUS_BLOCK io;
    return NtSetInformationFile(h, &io, info, ULONG(bytes), kind);
}

}  // namespace

Status Dir::Rename(const NativeString& name, const Dir& to, const NativeString& toName, bool replace) const {
    if (!ValidName(name) || !ValidName(toName)) return {Error::NameInvalid, 0};
    Facts existing;
    if (replace && to.Stat(toName, existing) && existing.kind == Kind::Directory)
        return {Error::IsDirectory, 0};
    HANDLE h;
    NTSTATUS s = OpenRelative(m_handle, name, DELETE | FILE_READ_ATTRIBUTES, kShareAll, kFileOpen, 0, h);
    if (!NT_SUCCESS(s)) return FromNt(s);
    Status result = FromNt(SetNameInformation(h, to.m_handle, toName, replace, kFileRenameInformation));
    CloseHandle(h);
    return result;
}

namespace {

// Why a volume refused a hard link: a whole kind of refusal (STATUS_NOT_SUPPORTED,
// STATUS_INVALID_DEVICE_REQUEST, STATUS_NOT_SAME_DEVICE, by their Win32 codes), or this file's own limit.
Status LinkRefusal(NTSTATUS s) {
    switch (RtlNtStatusToDosError(s)) {
        case ERROR_NOT_SUPPORTED:
        case ERROR_INVALID_FUNCTION:
        case ERROR_NOT_SAME_DEVICE:
            return {Error::NotSupported, long(s)};
        case ERROR_TOO_MANY_LINKS:
            return {Error::TooManyLinks, long(s)};
        default:
            return FromNt(s);
    }
}

}  // namespace

// The check and the link act on one handle, so the file checked is the file linked.
Status Dir::LinkFile(const NativeString& name, const Dir& from, const NativeString& fromName,
                     const std::function<bool(const Facts&)>& accept, bool& linked) const {
    linked = false;
    if (!ValidName(name) || !ValidName(fromName)) return {Error::NameInvalid, 0};
    HANDLE h;
    NTSTATUS s = OpenRelative(from.m_handle, fromName, FILE_READ_ATTRIBUTES, kShareAll, kFileOpen,
                              kNonDirectoryFile, h);
    if (!NT_SUCCESS(s)) return FromNt(s).error == Error::NotFound ? Status{} : FromNt(s);  // nothing to link
    Facts facts;
    Status result = StateOfHandle(h, facts);
    if (result && facts.kind == Kind::File && accept(facts)) {
        s = SetNameInformation(h, m_handle, name, false, kFileLinkInformation);
        if (NT_SUCCESS(s)) {
            linked = true;
        } else {
            result = LinkRefusal(s);
        }
    }
    CloseHandle(h);
    return result;
}

Status Dir::FreeSpace(uint64_t& available, uint64_t& total) const {
    FsSizeInfo info{};
    IO_STATUS_BLOCK io;
    NTSTATUS s = NtQueryVolumeInformationFile(m_handle, &io, &info, sizeof info, kFileFsSizeInformation);
    if (!NT_SUCCESS(s)) return FromNt(s);
    const uint64_t unit = uint64_t(info.SectorsPerAllocationUnit) * info.BytesPerSector;
    available = uint64_t(info.AvailableAllocationUnits.QuadPart) * unit;
    total = uint64_t(info.TotalAllocationUnits.QuadPart) * unit;
    return {};
}

Status Dir::SyncVolume() const {
    return {};
}  // each file flushed itself (File::MakeDurable)

Status Dir::TryLock(const NativeString& name, FileLock& out) const {
    if (!ValidName(name)) return {Error::NameInvalid, 0};
    // Readers may look, but no one else may write it, delete it or hold it as a lock meanwhile.
    HANDLE h;
    NTSTATUS s = OpenRelative(m_handle, name, GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ,
                              kFileOpenIf, kNonDirectoryFile, h);
    if (s == kStatusSharingViolation || s == kStatusDeletePending) return {Error::Locked, long(s)};
    if (!NT_SUCCESS(s)) return FromNt(s);
    if (IsReparsePoint(h)) {
        CloseHandle(h);
        return {Error::IsLink, 0};
    }
    out = FileLock();
    out.m_handle = h;
    return {};
}

int64_t Dir::TimeGranularity() const {
    constexpr int64_t kMillisecond = 10000;
    FsAttributeInfo info{};
    IO_STATUS_BLOCK io;
    if (!NT_SUCCESS(
            NtQueryVolumeInformationFile(m_handle, &io, &info, sizeof info, kFileFsAttributeInformation)))
        return 2000 * kMillisecond;
    const std::wstring name(info.FileSystemName,
                            std::min<size_t>(info.FileSystemNameLength / sizeof(wchar_t), 32));
    if (name == L"NTFS" || name == L"ReFS") return 16 * kMillisecond;  // the system clock's tick, at most
    if (name == L"exFAT") return 10 * kMillisecond;
    return 2000 * kMillisecond;  // FAT, and whatever a share does not tell
}

// ---- FileLock ----

FileLock::FileLock(FileLock&& other) noexcept : m_handle(other.m_handle) {
    other.m_handle = nullptr;
}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        Release();
        m_handle = other.m_handle;
        other.m_handle = nullptr;
    }
    return *this;
}

FileLock::~FileLock() {
    Release();
}

bool FileLock::IsHeld() const {
    return m_handle != nullptr;
}

void FileLock::Release() {
    if (!m_handle) return;
    DispositionInfo info{TRUE};
    IO_STATUS_BLOCK io;
    NtSetInformationFile(m_handle, &io, &info, sizeof info, kFileDispositionInformation);
    CloseHandle(m_handle);
    m_handle = nullptr;
}

// ---- free functions ----

Status PathIsLink(const std::filesystem::path& path, bool& link) {
    link = false;
    DWORD attributes = GetFileAttributesW(LongPath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return LastError();
    link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    return {};
}

CivilTime LocalFromUtc(int64_t utc) {
    const int64_t t = FileTimeFromUnix(std::max<int64_t>(utc, 0));
    FILETIME ft{DWORD(t & 0xFFFFFFFF), DWORD(uint64_t(t) >> 32)};
    SYSTEMTIME st, local;
    if (!FileTimeToSystemTime(&ft, &st) || !SystemTimeToTzSpecificLocalTime(nullptr, &st, &local)) return {};
    return {local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond};
}

std::optional<int64_t> UtcFromLocal(const CivilTime& c) {
    SYSTEMTIME local{WORD(c.year),   WORD(c.month),  0, WORD(c.day), WORD(c.hour),
                     WORD(c.minute), WORD(c.second), 0};
    SYSTEMTIME st;
    FILETIME ft;
    if (!TzSpecificLocalTimeToSystemTime(nullptr, &local, &st) || !SystemTimeToFileTime(&st, &ft))
        return std::nullopt;
    return UnixFromFileTime((int64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
}

int64_t ClockTicksNow() {
    FILETIME ft;
    GetSystemTimePreciseAsFileTime(&ft);
    return (int64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

unsigned long ProcessId() {
    return GetCurrentProcessId();
}

std::optional<std::string> Utf8FromNative(const NativeString& name) {
    return shared::Utf8FromWide(name);
}

std::optional<NativeString> NativeFromUtf8(std::string_view utf8) {
    return shared::WideFromUtf8(utf8);
}

void Utf16FromNative(const NativeString& text, std::u16string& out) {
    static_assert(sizeof(wchar_t) == sizeof(char16_t));
    out.assign(reinterpret_cast<const char16_t*>(text.data()), text.size());
}

NativeString FoldName(const NativeString& name) {
    if (name.empty()) return name;
    NativeString out(name.size(), L'\0');
    int n = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, name.data(), int(name.size()), out.data(),
                          int(out.size()), nullptr, nullptr, 0);
    if (n <= 0) return name;
    out.resize(size_t(n));
    return out;
}

NativeString NativeFromAscii(std::string_view ascii) {
    return NativeString(ascii.begin(), ascii.end());
}

void AppendUtf8ForLog(std::string& out, const NativeString& text) {
    AppendUtf8FromUtf16(out, std::wstring_view(text));
}

}  // namespace kivo::fs
