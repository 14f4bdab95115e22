// Covers: platform/win32.h, host half. The simulated volume: Windows path rules, attributes, share modes,
// directory junctions, and faults that belong to a file.
#include <algorithm>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <utility>

#include "tests/sim/machine.h"

namespace Sim {

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

std::string LastComponent(const std::string& normalized) {
    const std::size_t cut = normalized.rfind('\\');
    return cut == std::string::npos ? normalized : normalized.substr(cut + 1);
}

bool EndsWithSeparator(const std::string& path) { return !path.empty() && IsSeparator(path.back()); }

// A path, NUL included, must fit MAX_PATH characters, as given and made full.
bool TooLong(const std::string& name, const std::string& full) {
    return FromUtf8(name).size() >= MAX_PATH || FromUtf8(full).size() >= MAX_PATH;
}

// Wildcards and the characters the shell uses for quoting and redirection
// are not allowed in names; "?" is also what an ANSI call gives for a
// character its code page cannot write.
bool BadName(const std::string& name) { return name.find_first_of("?*<>|\"") != std::string::npos; }

}  // namespace

// "C:" is the root of drive C; everything below is "C:\a\b", without a
// trailing backslash, "." and ".." folded, trailing dots and blanks of a
// component dropped as Windows drops them. An empty result is not a path.
std::string FileSystem::Normalize(const std::string& path, const std::string& cwd) const {
    if (path.empty()) return "";
    std::string full;
    if (path.size() >= 2 && path[1] == ':') {
        if (path.size() == 2 || !IsSeparator(path[2])) {
            if (path.size() > 2) Unmodelled("drive-relative path " + path);
            full = path.substr(0, 2) + "\\";
        } else {
            full = path;
        }
    } else if (IsSeparator(path[0])) {
        if (path.size() > 1 && IsSeparator(path[1])) Unmodelled("UNC path " + path);
        full = cwd.substr(0, 2) + path;
    } else {
        full = cwd + "\\" + path;
    }
    std::vector<std::string> parts;
    std::string part;
    auto flush = [&] {
        while (!part.empty() && (part.back() == '.' || part.back() == ' ') && part != "." && part != "..")
            part.pop_back();
        if (part == "..") {
            if (parts.size() > 1) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        part.clear();
    };
    for (std::size_t i = 0; i < full.size(); ++i) {
        if (IsSeparator(full[i]))
            flush();
        else
            part += full[i];
    }
    flush();
    std::string out;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i) out += '\\';
        out += i == 0 ? UpperAscii(parts[i]) : parts[i];
    }
    return out;
}

std::string FileSystem::Parent(const std::string& normalized) {
    const std::size_t cut = normalized.rfind('\\');
    return cut == std::string::npos ? "" : normalized.substr(0, cut);
}

std::string FileSystem::Resolve(const std::string& normalized) const {
    std::string path = normalized;
    for (int hops = 0; hops < 32; ++hops) {
        // A name in the object manager's namespace: its symbolic link, followed always.
        if (!path.empty() && path[0] == '\\') {
            auto link = objectLinks.find(path);
            if (link == objectLinks.end()) return path;
            path = Normalize(link->second, "C:");
            continue;
        }
        bool changed = false;
        // Find the shortest prefix that is a link and substitute its target.
        std::size_t pos = path.find('\\');
        while (true) {
            const std::string prefix = pos == std::string::npos ? path : path.substr(0, pos);
            auto it = nodes.find(prefix);
            if (it != nodes.end() && !it->second.linkTarget.empty()) {
                // "\RPC Control": a junction into the object manager's namespace.
                const std::string& to = it->second.linkTarget;
                const bool objects = to.size() > 1 && to[0] == '\\' && to[1] != '\\';
                path = (objects ? to : Normalize(to, "C:")) + (pos == std::string::npos ? "" : path.substr(pos));
                changed = true;
                break;
            }
            if (pos == std::string::npos) break;
            pos = path.find('\\', pos + 1);
        }
        if (!changed) return path;
    }
    return "";  // a loop of links
}

std::string FileSystem::ResolveParent(const std::string& normalized) const {
    const std::size_t cut = normalized.rfind('\\');
    if (cut == std::string::npos) return normalized;
    const std::string parent = Resolve(normalized.substr(0, cut));
    if (!parent.empty() && parent[0] == '\\') return Resolve(parent + normalized.substr(cut));
    return parent.empty() ? "" : parent + normalized.substr(cut);
}

void FileSystem::AddFolder(const std::string& path) {
    const std::string n = Normalize(path, "C:");
    for (std::size_t cut = n.find('\\');; cut = n.find('\\', cut + 1)) {
        FileNode& node = nodes[n.substr(0, cut)];  // each folder on the way, the last too
        if (node.name.empty()) {
            node.name = LastComponent(n.substr(0, cut));
            node.directory = true;
            node.attributes = FILE_ATTRIBUTE_DIRECTORY;
        }
        if (cut == std::string::npos) break;
    }
}

void FileSystem::AddFile(const std::string& path, std::vector<std::uint8_t> data, DWORD attributes) {
    const std::string n = Normalize(path, "C:");
    AddFolder(Parent(n));
    FileNode& node = nodes[n];
    node = FileNode{};
    node.name = LastComponent(n);
    node.data = std::move(data);
    node.attributes = attributes;
    node.id = nextId++;
}

void FileSystem::AddLink(const std::string& path, const std::string& target) {
    const std::string n = Normalize(path, "C:");
    AddFolder(n);
    FileNode& node = nodes[n];
    node.linkTarget = target;
    node.attributes = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
}

void FileSystem::AddFileLink(const std::string& path, const std::string& target) {
    AddFile(path, std::vector<std::uint8_t>{}, FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_REPARSE_POINT);
    nodes[Normalize(path, "C:")].linkTarget = target;
}

void FileSystem::AddHardLink(const std::string& path, const std::string& existing) {
    const std::string n = Normalize(path, "C:");
    FileNode* original = Node(existing);
    if (!original || original->directory) Unmodelled("a hard link to something other than a file");
    if (!original->linkGroup) original->linkGroup = nextLinkGroup++;
    FileNode copy = *original;
    copy.name = LastComponent(n);
    AddFolder(Parent(n));
    nodes[n] = std::move(copy);
}

int FileSystem::LinkCount(const std::string& normalized) const {
    auto it = nodes.find(normalized);
    if (it == nodes.end()) return 0;
    if (!it->second.linkGroup) return 1;
    int n = 0;
    for (const auto& [path, node] : nodes) n += node.linkGroup == it->second.linkGroup;
    return n;
}

void FileSystem::Sync(const std::string& normalized) {
    auto it = nodes.find(normalized);
    if (it == nodes.end() || !it->second.linkGroup) return;
    for (auto& [path, node] : nodes)
        if (&node != &it->second && node.linkGroup == it->second.linkGroup) {
            node.data = it->second.data;
            node.attributes = it->second.attributes;
            node.reportedSize = it->second.reportedSize;
        }
}

FileNode* FileSystem::Node(const std::string& path) {
    auto it = nodes.find(Resolve(Normalize(path, "C:")));
    return it == nodes.end() ? nullptr : &it->second;
}

bool FileSystem::Exists(const std::string& path) const { return nodes.count(Resolve(Normalize(path, "C:"))) != 0; }

bool FileSystem::IsFolder(const std::string& path) const {
    auto it = nodes.find(Resolve(Normalize(path, "C:")));
    return it != nodes.end() && it->second.directory;
}

std::optional<std::vector<std::uint8_t>> FileSystem::Read(const std::string& path) const {
    auto it = nodes.find(Resolve(Normalize(path, "C:")));
    if (it == nodes.end() || it->second.directory) return std::nullopt;
    return it->second.data;
}

void FileSystem::Remove(const std::string& path) {
    const std::string n = UpperAscii(Normalize(path, "C:") + "\\");
    std::erase_if(nodes, [&](const auto& node) { return UpperAscii(node.first + "\\").rfind(n, 0) == 0; });
}

std::vector<std::string> FileSystem::List(const std::string& folder) const {
    const std::string n = Resolve(Normalize(folder, "C:"));
    std::vector<std::string> names;
    const std::string prefix = n + "\\";
    for (auto it = nodes.lower_bound(prefix); it != nodes.end(); ++it) {
        if (UpperAscii(it->first.substr(0, prefix.size())) != UpperAscii(prefix)) break;
        if (it->first.find('\\', prefix.size()) == std::string::npos) names.push_back(it->second.name);
    }
    return names;
}

int FileSystem::HoldOpen(const std::string& path, DWORD access, DWORD share) {
    const int token = nextToken++;
    external[token] = {Resolve(Normalize(path, "C:")), access, share};
    return token;
}

void FileSystem::Release(int token) {
    auto it = external.find(token);
    if (it == external.end()) return;
    const std::string path = it->second.path;
    external.erase(it);
    Settle(path);
}

std::uint64_t FileSystem::UsedBytes() const {
    std::uint64_t used = 0;
    for (const auto& [path, node] : nodes) used += node.data.size();
    return used;
}

void FileSystem::FailWritesAfter(const std::string& path, std::uint64_t bytes, DWORD error) {
    writeFaults[Normalize(path, "C:")] = {bytes, error};
}

namespace {

// Each right asked for, by either side, needs the other side to share it.
bool Conflicts(DWORD heldAccess, DWORD heldShare, DWORD access, DWORD share) {
    for (auto [right, sharing] : {std::pair<DWORD, DWORD>{GENERIC_READ, FILE_SHARE_READ},
                                  {GENERIC_WRITE, FILE_SHARE_WRITE},
                                  {DELETE, FILE_SHARE_DELETE}})
        if (((access & right) && !(heldShare & sharing)) || ((heldAccess & right) && !(share & sharing))) return true;
    return false;
}

bool Same(const std::string& a, const std::string& b) { return !NameLess{}(a, b) && !NameLess{}(b, a); }

// Whether anyone holding the file open, the installer or another
// process, does so with an access and sharing that `counts`.
template <class Counts>
bool HeldSo(const Machine& m, const std::string& path, Counts counts) {
    for (const auto& [value, h] : m.handles)
        if (h.kind == Machine::Handle::File && Same(h.path, path) && counts(h.access, h.share)) return true;
    for (const auto& [token, e] : m.files.external)
        if (Same(e.path, path) && counts(e.access, e.share)) return true;
    return false;
}

// Held open by anyone without letting others delete or rename it.
bool HeldWithoutDeleteSharing(const std::string& path) {
    return HeldSo(pc(), path, [](DWORD, DWORD share) { return !(share & FILE_SHARE_DELETE); });
}

// Held open by anyone at all.
bool Held(const std::string& path) {
    return HeldSo(pc(), path, [](DWORD, DWORD) { return true; });
}

// A name deleted while others hold the file: gone at once, or pending
// until they let go, as the volume does it.
void DeleteName(const std::string& path) {
    if (Held(path) && !pc().files.posixDelete)
        pc().files.nodes[path].deletePending = true;
    else
        pc().files.nodes.erase(path);
}

// Where a path leads: the resolved full path and whether its folder exists.
struct Target {
    std::string path;
    bool parentIsFolder = false;
    FileNode* node = nullptr;
};

// `name` is as the call was given it, in UTF-8. With `followLast` false a
// link at the name itself is taken as it is, not as what it points to.
Target Locate(const std::string& name, bool followLast = true) {
    FileSystem& fs = pc().files;
    Target t;
    const std::string n = fs.Normalize(name, pc().currentFolder);
    if (n.empty()) return t;
    t.path = followLast ? fs.Resolve(n) : fs.ResolveParent(n);
    if (t.path.empty()) return t;
    auto parent = fs.nodes.find(FileSystem::Parent(t.path));
    t.parentIsFolder = parent != fs.nodes.end() && parent->second.directory;
    auto it = fs.nodes.find(t.path);
    if (it != fs.nodes.end()) t.node = &it->second;
    return t;
}

void FillFindData(const FileNode& node, const std::string& name, WIN32_FIND_DATAA* out) {
    std::memset(out, 0, sizeof(*out));
    out->dwFileAttributes = node.attributes;
    const std::uint64_t size = node.directory ? 0 : (node.reportedSize ? node.reportedSize : node.data.size());
    out->nFileSizeHigh = DWORD(size >> 32);
    out->nFileSizeLow = DWORD(size & 0xFFFFFFFFu);
    if (!node.linkTarget.empty()) out->dwReserved0 = 0xA0000003;  // IO_REPARSE_TAG_MOUNT_POINT
    std::strncpy(out->cFileName, ToAnsi(name).c_str(), MAX_PATH - 1);
}

}  // namespace

bool Machine::FileOpenConflicts(const std::string& path, DWORD access, DWORD share) const {
    return HeldSo(*this, path,
                  [&](DWORD heldAccess, DWORD heldShare) { return Conflicts(heldAccess, heldShare, access, share); });
}

void FileSystem::Settle(const std::string& normalized) {
    auto it = nodes.find(normalized);
    if (it != nodes.end() && it->second.deletePending && !Held(normalized)) nodes.erase(it);
}

namespace {

HANDLE Refused(DWORD error) { return Fail(error, INVALID_HANDLE_VALUE); }

// The checks every call that takes one ANSI name makes first. Empty when
// the name may be looked up; otherwise the error.
std::optional<DWORD> NameError(const std::string& name) {
    if (name.empty()) return ERROR_PATH_NOT_FOUND;
    if (TooLong(name, pc().files.Normalize(name, pc().currentFolder))) return ERROR_FILENAME_EXCED_RANGE;
    if (BadName(name)) return ERROR_INVALID_NAME;
    return std::nullopt;
}

// What stands at a name a call acts on itself (a link is not followed):
// the error where nothing does.
std::optional<DWORD> LocateExisting(const std::string& raw, Target& t) {
    t = Locate(raw, false);
    if (t.path.empty() || !t.parentIsFolder) return ERROR_PATH_NOT_FOUND;
    if (!t.node) return ERROR_FILE_NOT_FOUND;
    return std::nullopt;
}

// CreateFileA and CreateFileW: `name` in UTF-8, as given.
HANDLE OpenFile(const char* function, const std::string& name, DWORD access, DWORD share,
                LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags, HANDLE templ) {
    const std::string full = pc().files.Normalize(name, pc().currentFolder);
    if (auto e = pc().Enter(function, full)) return Refused(*e);
    if (security || templ) Unmodelled("CreateFile with security attributes or a template");
    if (access & ~DWORD(GENERIC_READ | GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES))
        Unmodelled("CreateFile access rights");
    if (flags & ~DWORD(FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_ARCHIVE |
                       FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY |
                       FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_BACKUP_SEMANTICS))
        Unmodelled("CreateFile flags");
    const bool deleteOnClose = (flags & FILE_FLAG_DELETE_ON_CLOSE) != 0;
    if (deleteOnClose && !(access & DELETE)) return Refused(ERROR_INVALID_PARAMETER);
    if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING) return Refused(ERROR_INVALID_PARAMETER);
    if (name.empty()) return Refused(ERROR_PATH_NOT_FOUND);
    if (name.rfind("\\\\?\\", 0) == 0) Unmodelled("CreateFile with a long-path prefix");
    if (TooLong(name, full)) return Refused(ERROR_FILENAME_EXCED_RANGE);
    if (BadName(name)) return Refused(ERROR_INVALID_NAME);
    // A reparse point named directly is opened itself, not followed.
    const Target t = Locate(name, !(flags & FILE_FLAG_OPEN_REPARSE_POINT));
    if (t.path.empty()) return Refused(ERROR_CANT_RESOLVE_FILENAME);
    if (!t.parentIsFolder) return Refused(ERROR_PATH_NOT_FOUND);
    const DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY;
    DWORD error = 0;
    if (t.node) {
        FileNode& node = *t.node;
        if (node.deletePending) return Refused(ERROR_ACCESS_DENIED);
        const bool openFolder = disposition == OPEN_EXISTING && (flags & FILE_FLAG_BACKUP_SEMANTICS);
        if (node.directory && openFolder) {
            if (pc().FileOpenConflicts(t.path, access, share)) return Refused(ERROR_SHARING_VIOLATION);
            return pc().NewHandle({Machine::Handle::File, t.path, access, share});
        }
        // The name is taken: CREATE_NEW says so before anything else.
        if (node.directory) return Refused(disposition == CREATE_NEW ? ERROR_FILE_EXISTS : ERROR_ACCESS_DENIED);
        if (EndsWithSeparator(name)) return Refused(ERROR_INVALID_NAME);
        if (disposition == CREATE_NEW) return Refused(ERROR_FILE_EXISTS);
        const bool writes = (access & GENERIC_WRITE) || deleteOnClose || disposition == CREATE_ALWAYS ||
                            disposition == TRUNCATE_EXISTING;
        if (writes && (node.attributes & FILE_ATTRIBUTE_READONLY)) return Refused(ERROR_ACCESS_DENIED);
        // Overwriting a hidden or system file must name those attributes.
        if (disposition == CREATE_ALWAYS &&
            (node.attributes & ~flags & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)))
            return Refused(ERROR_ACCESS_DENIED);
        if (pc().FileOpenConflicts(t.path, access, share)) return Refused(ERROR_SHARING_VIOLATION);
        if (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING) {
            if (disposition == TRUNCATE_EXISTING && !(access & GENERIC_WRITE)) return Refused(ERROR_INVALID_PARAMETER);
            node.data.clear();
            node.reportedSize = 0;
            if (disposition == CREATE_ALWAYS)
                node.attributes =
                    (flags & kept) | FILE_ATTRIBUTE_ARCHIVE | (node.attributes & FILE_ATTRIBUTE_REPARSE_POINT);
            pc().files.Sync(t.path);
        }
        if (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS) error = ERROR_ALREADY_EXISTS;
    } else {
        if (EndsWithSeparator(name)) return Refused(ERROR_INVALID_NAME);
        if (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING) return Refused(ERROR_FILE_NOT_FOUND);
        FileNode& node = pc().files.nodes[t.path];
        node.name = LastComponent(t.path);
        node.attributes = (flags & kept) | FILE_ATTRIBUTE_ARCHIVE;
        node.id = pc().files.nextId++;
    }
    HANDLE handle = pc().NewHandle({Machine::Handle::File, t.path, access, share});
    pc().FindHandle(handle, Machine::Handle::File)->deleteOnClose = deleteOnClose;
    return Fail(error, handle);
}

}  // namespace
}  // namespace Sim

using Sim::pc;

HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                          DWORD flags, HANDLE templ) {
    return Sim::OpenFile("CreateFileA", Sim::FromAnsi(name ? name : ""), access, share, security, disposition, flags,
                         templ);
}

HANDLE WINAPI CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                          DWORD flags, HANDLE templ) {
    return Sim::OpenFile("CreateFileW", Sim::Utf8(name ? name : L""), access, share, security, disposition, flags,
                         templ);
}

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD read, LPOVERLAPPED overlapped) {
    if (read) *read = 0;
    if (auto e = pc().Enter("ReadFile", std::to_string(size))) return Sim::Fail(*e, FALSE);
    if (overlapped || !read) Sim::Unmodelled("ReadFile without a byte count or with OVERLAPPED");
    Sim::Machine::Handle* h = pc().FindHandle(file, Sim::Machine::Handle::File);
    if (!h) return Sim::Fail(ERROR_INVALID_HANDLE, FALSE);
    if (!(h->access & GENERIC_READ)) return Sim::Fail(ERROR_ACCESS_DENIED, FALSE);
    auto it = pc().files.nodes.find(h->path);
    if (it == pc().files.nodes.end()) return Sim::Fail(ERROR_FILE_NOT_FOUND, FALSE);
    const std::vector<std::uint8_t>& data = it->second.data;
    std::uint64_t n = 0;
    if (h->position < data.size()) n = std::min<std::uint64_t>(size, data.size() - h->position);
    if (n) std::memcpy(buffer, data.data() + h->position, std::size_t(n));
    h->position += n;
    if (read) *read = DWORD(n);
    return TRUE;
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
    Sim::Machine::Handle* h = pc().FindHandle(file, Sim::Machine::Handle::File);
    if (written) *written = 0;
    if (auto e = pc().Enter("WriteFile", (h ? h->path + " " : std::string()) + std::to_string(size)))
        return Sim::Fail(*e, FALSE);
    if (overlapped || !written) Sim::Unmodelled("WriteFile without a byte count or with OVERLAPPED");
    if (!h) return Sim::Fail(ERROR_INVALID_HANDLE, FALSE);
    if (!(h->access & GENERIC_WRITE)) return Sim::Fail(ERROR_ACCESS_DENIED, FALSE);
    const auto* from = static_cast<const std::uint8_t*>(buffer);
    for (const Sim::Machine::Resource& r : pc().resources)
        if (!r.data.empty() && from >= r.data.data() && from < r.data.data() + r.data.size())
            pc().writesFromResources.push_back(h->path);
    std::vector<std::uint8_t>& data = pc().files.nodes[h->path].data;
    std::uint64_t accept = size;
    DWORD error = 0;
    auto fault = pc().files.writeFaults.find(h->path);
    if (fault != pc().files.writeFaults.end()) {
        if (accept > fault->second.allowed) {
            accept = fault->second.allowed;
            error = fault->second.error;
        }
        fault->second.allowed -= accept;
    }
    const std::uint64_t end = h->position + accept;
    const std::uint64_t growth = end > data.size() ? end - data.size() : 0;
    if (growth && pc().files.capacity != UINT64_MAX && pc().files.UsedBytes() + growth > pc().files.capacity)
        return Sim::Fail(ERROR_DISK_FULL, FALSE);
    if (end > data.size()) data.resize(std::size_t(end));
    if (accept) std::memcpy(data.data() + h->position, buffer, std::size_t(accept));
    h->position = end;
    if (written) *written = DWORD(accept);
    pc().files.Sync(h->path);
    return error ? Sim::Fail(error, FALSE) : TRUE;
}

BOOL WINAPI SetFilePointerEx(HANDLE file, LARGE_INTEGER distance, PLARGE_INTEGER newPosition, DWORD method) {
    if (auto e = pc().Enter("SetFilePointerEx", std::to_string(distance.QuadPart))) return Sim::Fail(*e, FALSE);
    Sim::Machine::Handle* h = pc().FindHandle(file, Sim::Machine::Handle::File);
    if (!h) return Sim::Fail(ERROR_INVALID_HANDLE, FALSE);
    LONGLONG base = 0;
    if (method == FILE_CURRENT)
        base = LONGLONG(h->position);
    else if (method == FILE_END)
        base = LONGLONG(pc().files.nodes[h->path].data.size());
    else if (method != FILE_BEGIN)
        return Sim::Fail(ERROR_INVALID_PARAMETER, FALSE);
    const LONGLONG target = base + distance.QuadPart;
    if (target < 0) return Sim::Fail(ERROR_NEGATIVE_SEEK, FALSE);
    h->position = std::uint64_t(target);
    if (newPosition) newPosition->QuadPart = target;
    return TRUE;
}

BOOL WINAPI GetFileSizeEx(HANDLE file, PLARGE_INTEGER size) {
    if (auto e = pc().Enter("GetFileSizeEx", "")) return Sim::Fail(*e, FALSE);
    Sim::Machine::Handle* h = pc().FindHandle(file, Sim::Machine::Handle::File);
    if (!h || !size) return Sim::Fail(h ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE, FALSE);
    size->QuadPart = LONGLONG(pc().files.nodes[h->path].data.size());
    return TRUE;
}

BOOL WINAPI FlushFileBuffers(HANDLE file) {
    Sim::Machine::Handle* h = pc().FindHandle(file, Sim::Machine::Handle::File);
    if (auto e = pc().Enter("FlushFileBuffers", h ? h->path : "")) return Sim::Fail(*e, FALSE);
    if (!h) return Sim::Fail(ERROR_INVALID_HANDLE, FALSE);
    if (!(h->access & GENERIC_WRITE)) return Sim::Fail(ERROR_ACCESS_DENIED, FALSE);
    return TRUE;
}

// Deletes the name given: a link, not what it points to.
BOOL WINAPI DeleteFileA(LPCSTR name) {
    const std::string raw = Sim::FromAnsi(name ? name : "");
    if (auto e = pc().Enter("DeleteFileA", pc().FullPath(name ? name : ""))) return Sim::Fail(*e, FALSE);
    if (auto e = Sim::NameError(raw)) return Sim::Fail(*e, FALSE);
    Sim::Target t;
    if (auto e = Sim::LocateExisting(raw, t)) return Sim::Fail(*e, FALSE);
    if (t.node->directory || t.node->deletePending || (t.node->attributes & FILE_ATTRIBUTE_READONLY))
        return Sim::Fail(ERROR_ACCESS_DENIED, FALSE);
    if (Sim::HeldWithoutDeleteSharing(t.path)) return Sim::Fail(ERROR_SHARING_VIOLATION, FALSE);
    Sim::DeleteName(t.path);
    return TRUE;
}

// Renames the names given: a link moves as a link.
BOOL WINAPI MoveFileExA(LPCSTR existing, LPCSTR target, DWORD flags) {
    const std::string from = Sim::FromAnsi(existing ? existing : "");
    const std::string to = Sim::FromAnsi(target ? target : "");
    if (auto e = pc().Enter("MoveFileExA",
                            pc().FullPath(existing ? existing : "") + " -> " + pc().FullPath(target ? target : "")))
        return Sim::Fail(*e, FALSE);
    if (flags & ~DWORD(MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH | MOVEFILE_DELAY_UNTIL_REBOOT))
        Sim::Unmodelled("MoveFileExA flags");
    if (auto e = Sim::NameError(from)) return Sim::Fail(*e, FALSE);
    if (auto e = Sim::NameError(to)) return Sim::Fail(*e, FALSE);
    Sim::Target s;
    if (auto e = Sim::LocateExisting(from, s)) return Sim::Fail(*e, FALSE);
    // Only recorded, in the Session Manager's key that administrators alone may write.
    if (flags & MOVEFILE_DELAY_UNTIL_REBOOT) {
        if (!pc().userIsAdmin) return Sim::Fail(ERROR_ACCESS_DENIED, FALSE);
        pc().files.pendingRenames.push_back(
            {s.path, Sim::Locate(to, false).path, (flags & MOVEFILE_REPLACE_EXISTING) != 0});
        return TRUE;
    }
    if (s.node->directory) Sim::Unmodelled("MoveFileExA on a folder");
    if (s.node->deletePending) return Sim::Fail(ERROR_ACCESS_DENIED, FALSE);
    if (Sim::HeldWithoutDeleteSharing(s.path)) return Sim::Fail(ERROR_SHARING_VIOLATION, FALSE);
    const Sim::Target d = Sim::Locate(to, false);
    if (d.path.empty() || !d.parentIsFolder) return Sim::Fail(ERROR_PATH_NOT_FOUND, FALSE);
    const bool same = Sim::Same(s.path, d.path);
    if (d.node && !same) {
        if (!(flags & MOVEFILE_REPLACE_EXISTING)) return Sim::Fail(ERROR_ALREADY_EXISTS, FALSE);
        // Replacing deletes the old name: refused while any handle to it
        // does not allow deletion, and for a read-only file.
        if (d.node->directory || d.node->deletePending || (d.node->attributes & FILE_ATTRIBUTE_READONLY) ||
            Sim::HeldWithoutDeleteSharing(d.path)) {
            return Sim::Fail(ERROR_ACCESS_DENIED, FALSE);
        }
    }
    Sim::FileNode moved = std::move(*s.node);
    pc().files.nodes.erase(s.path);
    moved.name = Sim::LastComponent(d.path);
    pc().files.nodes[d.path] = std::move(moved);
    return TRUE;
}

// The attributes of the name given: a link's own, with its reparse flag.
DWORD WINAPI GetFileAttributesA(LPCSTR name) {
    const std::string raw = Sim::FromAnsi(name ? name : "");
    if (auto e = pc().Enter("GetFileAttributesA", pc().FullPath(name ? name : "")))
        return Sim::Fail(*e, INVALID_FILE_ATTRIBUTES);
    if (auto e = Sim::NameError(raw)) return Sim::Fail(*e, INVALID_FILE_ATTRIBUTES);
    const Sim::Target t = Sim::Locate(raw, false);
    if (t.path.empty()) return Sim::Fail(ERROR_CANT_RESOLVE_FILENAME, INVALID_FILE_ATTRIBUTES);
    if (!t.node) {
        const bool root = t.path.size() == 2 && t.path[1] == ':';
        if (root) return FILE_ATTRIBUTE_DIRECTORY;
        return Sim::Fail(t.parentIsFolder ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND, INVALID_FILE_ATTRIBUTES);
    }
    if (!t.node->directory && Sim::EndsWithSeparator(raw))
        return Sim::Fail(ERROR_PATH_NOT_FOUND, INVALID_FILE_ATTRIBUTES);
    if (t.node->deletePending) return Sim::Fail(ERROR_ACCESS_DENIED, INVALID_FILE_ATTRIBUTES);
    return t.node->attributes ? t.node->attributes : DWORD(FILE_ATTRIBUTE_NORMAL);
}

BOOL WINAPI SetFileAttributesA(LPCSTR name, DWORD attributes) {
    const std::string raw = Sim::FromAnsi(name ? name : "");
    if (auto e = pc().Enter("SetFileAttributesA", pc().FullPath(name ? name : ""))) return Sim::Fail(*e, FALSE);
    if (auto e = Sim::NameError(raw)) return Sim::Fail(*e, FALSE);
    const DWORD settable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                           FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL;
    if (attributes & ~settable) Sim::Unmodelled("SetFileAttributesA with attributes beyond R, H, S, A");
    Sim::Target t;
    if (auto e = Sim::LocateExisting(raw, t)) return Sim::Fail(*e, FALSE);
    if (!t.node->linkTarget.empty()) Sim::Unmodelled("SetFileAttributesA on a link");
    // FILE_ATTRIBUTE_NORMAL alone clears them all; with others it is ignored.
    const DWORD kept = t.node->attributes & FILE_ATTRIBUTE_DIRECTORY;
    t.node->attributes = kept | (attributes & ~DWORD(FILE_ATTRIBUTE_NORMAL));
    pc().files.Sync(t.path);
    return TRUE;
}

// Removes an empty folder, or a junction itself, never what it points to.
BOOL WINAPI RemoveDirectoryA(LPCSTR name) {
    const std::string raw = Sim::FromAnsi(name ? name : "");
    if (auto e = pc().Enter("RemoveDirectoryA", pc().FullPath(name ? name : ""))) return Sim::Fail(*e, FALSE);
    if (auto e = Sim::NameError(raw)) return Sim::Fail(*e, FALSE);
    Sim::Target t;
    if (auto e = Sim::LocateExisting(raw, t)) return Sim::Fail(*e, FALSE);
    if (!t.node->directory) return Sim::Fail(ERROR_DIRECTORY, FALSE);
    if (t.node->attributes & FILE_ATTRIBUTE_READONLY) return Sim::Fail(ERROR_ACCESS_DENIED, FALSE);
    if (t.node->linkTarget.empty() && !pc().files.List(t.path).empty()) return Sim::Fail(ERROR_DIR_NOT_EMPTY, FALSE);
    pc().files.nodes.erase(t.path);
    return TRUE;
}

BOOL WINAPI GetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION info) {
    if (auto e = pc().Enter("GetFileInformationByHandle", "")) return Sim::Fail(*e, FALSE);
    Sim::Machine::Handle* h = pc().FindHandle(file, Sim::Machine::Handle::File);
    if (!h) return Sim::Fail(ERROR_INVALID_HANDLE, FALSE);
    if (!info) Sim::Unmodelled("GetFileInformationByHandle without a record");
    // It reads the file's attributes: a handle opened only to write or delete may not.
    if (!(h->access & (GENERIC_READ | FILE_READ_ATTRIBUTES))) return Sim::Fail(ERROR_ACCESS_DENIED, FALSE);
    auto it = pc().files.nodes.find(h->path);
    if (it == pc().files.nodes.end()) return Sim::Fail(ERROR_FILE_NOT_FOUND, FALSE);
    std::memset(info, 0, sizeof *info);
    const Sim::FileNode& node = it->second;
    info->dwFileAttributes = node.attributes ? node.attributes : DWORD(FILE_ATTRIBUTE_NORMAL);
    info->dwVolumeSerialNumber = 0x5A17C0DE;
    const std::uint64_t size = node.data.size();
    info->nFileSizeHigh = DWORD(size >> 32);
    info->nFileSizeLow = DWORD(size & 0xFFFFFFFFu);
    info->nNumberOfLinks = DWORD(pc().files.LinkCount(h->path));
    info->nFileIndexHigh = DWORD(node.id >> 32);
    info->nFileIndexLow = DWORD(node.id & 0xFFFFFFFFu);
    return TRUE;
}

HANDLE WINAPI FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data) {
    const std::string raw = pattern ? pattern : "";
    if (auto e = pc().Enter("FindFirstFileA", pc().FullPath(raw))) return Sim::Fail(*e, INVALID_HANDLE_VALUE);
    if (Sim::TooLong(Sim::FromAnsi(raw), pc().FullPath(raw)))
        return Sim::Fail(ERROR_FILENAME_EXCED_RANGE, INVALID_HANDLE_VALUE);
    const std::size_t cut = raw.find_last_of("\\/");
    const std::string mask = cut == std::string::npos ? raw : raw.substr(cut + 1);
    const std::string folderPart = cut == std::string::npos ? "." : raw.substr(0, cut + 1);
    if (mask != "*.*" && mask != "*") Sim::Unmodelled("FindFirstFileA mask " + mask);
    Sim::FileSystem& fs = pc().files;
    const std::string folder = fs.Resolve(pc().FullPath(folderPart));
    auto it = fs.nodes.find(folder);
    const bool root = folder.size() == 2 && folder[1] == ':';
    if (folder.empty() || (!root && it == fs.nodes.end()))
        return Sim::Fail(folder.empty() ? ERROR_CANT_RESOLVE_FILENAME : ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE);
    if (!root && !it->second.directory) return Sim::Fail(ERROR_INVALID_NAME, INVALID_HANDLE_VALUE);
    if (it != fs.nodes.end() && it->second.unlistable) return Sim::Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
    Sim::Machine::Handle h{Sim::Machine::Handle::Find, folder, 0, 0};
    WIN32_FIND_DATAA entry;
    if (!root) {
        Sim::FillFindData(it->second, ".", &entry);
        h.listing.push_back(entry);
        Sim::FillFindData(it->second, "..", &entry);
        h.listing.push_back(entry);
    }
    for (const std::string& name : fs.List(folder)) {
        Sim::FillFindData(fs.nodes[folder + "\\" + name], name, &entry);
        h.listing.push_back(entry);
    }
    if (h.listing.empty()) return Sim::Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    *data = h.listing[0];
    h.next = 1;
    return pc().NewHandle(std::move(h));
}

BOOL WINAPI FindNextFileA(HANDLE find, LPWIN32_FIND_DATAA data) {
    if (auto e = pc().Enter("FindNextFileA", "")) return Sim::Fail(*e, FALSE);
    Sim::Machine::Handle* h = pc().FindHandle(find, Sim::Machine::Handle::Find);
    if (!h) return Sim::Fail(ERROR_INVALID_HANDLE, FALSE);
    if (h->next >= h->listing.size()) return Sim::Fail(ERROR_NO_MORE_FILES, FALSE);
    *data = h->listing[h->next++];
    return TRUE;
}

BOOL WINAPI FindClose(HANDLE find) { return pc().Release("FindClose", find, Sim::Machine::Handle::Find); }

BOOL WINAPI CloseHandle(HANDLE handle) {
    using H = Sim::Machine::Handle;
    // A failing close still closes: the handle is gone either way.
    const std::optional<DWORD> fault = pc().Enter("CloseHandle", "");
    auto it = pc().handles.find(reinterpret_cast<std::uintptr_t>(handle));
    const H::Kind kind = it == pc().handles.end() ? H::Find : it->second.kind;
    if (kind == H::Find || kind == H::EventSource || kind == H::Boundary || kind == H::Namespace)
        return Sim::Fail(ERROR_INVALID_HANDLE, FALSE);
    const H closed = it->second;
    // A scanner looks at each file written as soon as it is closed.
    if (kind == H::File && (closed.access & GENERIC_WRITE) && pc().scanHoldMs) {
        const int token = pc().files.HoldOpen(closed.path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
        pc().At(pc().now + pc().scanHoldMs, [token] { pc().files.Release(token); });
    }
    auto& named = pc().namedObjects;
    if (kind == H::Mapping && named.count(closed.path) && --named[closed.path] == 0) named.erase(closed.path);
    if (kind == H::Mutex)
        Sim::CloseNamed(it->first);
    else
        pc().handles.erase(it);
    if (kind == H::File && closed.deleteOnClose && pc().files.nodes.count(closed.path)) Sim::DeleteName(closed.path);
    if (kind == H::File) pc().files.Settle(closed.path);
    return fault ? Sim::Fail(*fault, FALSE) : TRUE;
}

// Before any program runs: nothing is held, and each rename whose file is
// still there is made (a file at the new name replaced only where asked).
void Sim::FileSystem::Restart() {
    external.clear();
    for (const PendingRename& r : std::exchange(pendingRenames, {})) {
        if (!nodes.count(r.from) || (nodes.count(r.to) && !r.replace)) continue;
        FileNode moved = std::move(nodes[r.from]);
        nodes.erase(r.from);
        moved.name = LastComponent(r.to);
        nodes[r.to] = std::move(moved);
    }
}

// A folder is renamed only when nobody holds it without sharing delete,
// nor holds anything below it open.
DWORD Sim::FileSystem::RenameAsOther(const std::string& from, const std::string& to) {
    const std::string f = ResolveParent(Normalize(from, "C:")), t = ResolveParent(Normalize(to, "C:"));
    auto under = [&](const std::string& p) { return UpperAscii(p).rfind(UpperAscii(f + "\\"), 0) == 0; };
    if (HeldWithoutDeleteSharing(f)) return ERROR_SHARING_VIOLATION;
    for (const auto& [value, h] : pc().handles)
        if (h.kind == Machine::Handle::File && under(h.path)) return ERROR_ACCESS_DENIED;
    for (const auto& [token, e] : external)
        if (under(e.path)) return ERROR_ACCESS_DENIED;
    for (auto it = nodes.begin(); it != nodes.end();)
        if (Same(it->first, f) || under(it->first)) {
            nodes[t + it->first.substr(f.size())] = std::move(it->second);
            it = nodes.erase(it);
        } else {
            ++it;
        }
    return ERROR_SUCCESS;
}

// A rename or a delete through the handle: what the handle is open to.
BOOL WINAPI SetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info, DWORD size) {
    Sim::Machine::Handle* h = pc().FindHandle(file, Sim::Machine::Handle::File);
    const std::string what = (kind == FileRenameInfo ? "rename " : "delete ") + (h ? h->path : "");
    if (auto e = pc().Enter("SetFileInformationByHandle", what)) return Sim::Fail(*e, FALSE);
    if (kind != FileRenameInfo && kind != FileDispositionInfo) Sim::Unmodelled("SetFileInformationByHandle class");
    if (!h || !(h->access & DELETE)) return Sim::Fail(h ? ERROR_ACCESS_DENIED : ERROR_INVALID_HANDLE, FALSE);
    Sim::FileNode& node = pc().files.nodes[h->path];
    if (kind == FileDispositionInfo) {
        if (node.attributes & FILE_ATTRIBUTE_READONLY) return Sim::Fail(ERROR_ACCESS_DENIED, FALSE);
        h->deleteOnClose = static_cast<FILE_DISPOSITION_INFO*>(info)->DeleteFile != 0;
        return TRUE;
    }
    const auto* rename = static_cast<const FILE_RENAME_INFO*>(info);
    const std::wstring name(rename->FileName, rename->FileNameLength / sizeof(WCHAR));
    if (rename->RootDirectory || name.rfind(L"\\??\\", 0) != 0 || size < sizeof *rename + rename->FileNameLength)
        Sim::Unmodelled("a rename not to a full name in the system's form");
    const Sim::Target d = Sim::Locate(Sim::Utf8(name.substr(4)), false);
    if (d.path.empty() || !d.parentIsFolder) return Sim::Fail(ERROR_PATH_NOT_FOUND, FALSE);
    if (Sim::UpperAscii(d.path.substr(0, 2)) != Sim::UpperAscii(h->path.substr(0, 2)))
        return Sim::Fail(ERROR_NOT_SAME_DEVICE, FALSE);
    // The folder it goes to is opened to add a file, sharing reading and writing.
    if (pc().FileOpenConflicts(Sim::FileSystem::Parent(d.path), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE))
        return Sim::Fail(ERROR_SHARING_VIOLATION, FALSE);
    if (d.node && !Sim::Same(d.path, h->path) &&
        (!rename->ReplaceIfExists || d.node->directory || d.node->deletePending ||
         (d.node->attributes & FILE_ATTRIBUTE_READONLY) || Sim::HeldWithoutDeleteSharing(d.path)))
        return Sim::Fail(rename->ReplaceIfExists ? ERROR_ACCESS_DENIED : ERROR_ALREADY_EXISTS, FALSE);
    Sim::FileNode moved = std::move(node);
    pc().files.nodes.erase(h->path);
    moved.name = Sim::LastComponent(d.path);
    pc().files.nodes[d.path] = std::move(moved);
    h->path = d.path;
    return TRUE;
}

DWORD WINAPI GetFinalPathNameByHandleW(HANDLE file, LPWSTR out, DWORD size, DWORD flags) {
    Sim::Machine::Handle* h = pc().FindHandle(file, Sim::Machine::Handle::File);
    if (auto e = pc().Enter("GetFinalPathNameByHandleW", h ? h->path : "")) return Sim::Fail(*e, DWORD(0));
    if (!h) return Sim::Fail(ERROR_INVALID_HANDLE, DWORD(0));
    if (flags != (FILE_NAME_NORMALIZED | VOLUME_NAME_DOS)) Sim::Unmodelled("GetFinalPathNameByHandleW flags");
    const std::wstring name = L"\\\\?\\" + Sim::FromUtf8(h->path) + (h->path.size() == 2 ? L"\\" : L"");
    if (size <= name.size()) return DWORD(name.size() + 1);
    std::copy(name.c_str(), name.c_str() + name.size() + 1, out);
    return DWORD(name.size());
}

int WINAPI CompareStringOrdinal(LPCWSTR first, int firstLength, LPCWSTR second, int secondLength, BOOL ignoreCase) {
    if (auto e = pc().Enter("CompareStringOrdinal", "")) return Sim::Fail(*e, 0);
    std::wstring a(first, firstLength < 0 ? std::wcslen(first) : firstLength);
    std::wstring b(second, secondLength < 0 ? std::wcslen(second) : secondLength);
    for (std::wstring* text : {&a, &b})
        for (wchar_t& c : *text) c = ignoreCase ? std::towupper(c) : c;
    return a < b ? CSTR_LESS_THAN : a == b ? CSTR_EQUAL : CSTR_GREATER_THAN;
}
