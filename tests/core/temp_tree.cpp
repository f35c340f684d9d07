#include "core/temp_tree.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <filesystem>
#include <random>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "core/fsops.h"

namespace fs = std::filesystem;

namespace ostrivane::test {

fs::path NativePath(const std::string& utf8) {
#ifdef _WIN32
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
#else
    return fs::path(utf8);
#endif
}

namespace {

#ifdef _WIN32
// Removes a tree through the wide calls and "\\?\" paths, so that no path length stops it;
// read-only entries lose that bit first, links are removed and never followed.
void RemoveTree(const std::wstring& folder) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring path = folder + L"\\" + name;
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                if (!(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) RemoveTree(path);
                RemoveDirectoryW(path.c_str());
            } else {
                DeleteFileW(path.c_str());
            }
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryW(folder.c_str());
}
#endif

}  // namespace

TempTree::TempTree() {
#ifdef _WIN32
    // No mkdtemp: a random name, created exclusively.
    std::random_device random;
    for (int attempt = 0; attempt < 100 && root_.empty(); ++attempt) {
        fs::path candidate =
            fs::temp_directory_path() / ("ostrivane-test-" + std::to_string(random()));
        std::error_code ec;
        if (fs::create_directory(candidate, ec)) {
            const std::u8string u8 = candidate.u8string();
            root_.assign(u8.begin(), u8.end());
        }
    }
    if (root_.empty()) throw std::runtime_error("cannot create a temporary folder");
    // The test's own paths use the platform's separator throughout.
    while (!root_.empty() && root_.back() == '\\') root_.pop_back();
#else
    std::string tmpl = (fs::temp_directory_path() / "ostrivane-test-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    root_ = tmpl;
#endif
}

TempTree::~TempTree() {
#ifdef _WIN32
    RemoveTree(L"\\\\?\\" + NativePath(root_).wstring());
#else
    // Give back write and search permission that a test took away, then remove everything.
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(
             root_, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    // Folders that could not even be walked.
    for (int pass = 0; pass < 3; ++pass) {
        fs::remove_all(root_, ec);
        if (!ec) break;
        for (auto& p : fs::recursive_directory_iterator(
                 root_, fs::directory_options::skip_permission_denied, ec))
            fs::permissions(p.path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
#endif
}

std::string TempTree::path(const std::string& relative) const {
    std::string p = root_ + platform::kSeparator + relative;
    // Tests spell relative paths with "/"; Windows names take its own separator.
    if constexpr (platform::kSeparator != '/') std::replace(p.begin(), p.end(), '/', platform::kSeparator);
    return p;
}

std::string TempTree::mkdir(const std::string& relative) const {
    std::string p = path(relative);
    fs::create_directories(NativePath(p));
    return p;
}

std::string TempTree::write(const std::string& relative, const std::string& content) const {
    std::string p = path(relative);
    fs::create_directories(NativePath(p).parent_path());
    std::ofstream out(NativePath(p), std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) throw std::runtime_error("cannot write " + p);
    return p;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(NativePath(path), std::ios::binary);
    if (!in) return "<missing>";
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool Exists(const std::string& path) {
    std::error_code ec;
    return fs::symlink_status(NativePath(path), ec).type() != fs::file_type::not_found && !ec;
}

#ifndef _WIN32
bool TrueInChild(const std::function<bool()>& body, unsigned deadlineSeconds) {
    pid_t child = fork();
    if (child < 0) return false;
    if (child == 0) {
        alarm(deadlineSeconds);
        _exit(body() ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool MakeDeepChain(const std::string& top, int levels, const std::string& name,
                   const std::string& file) {
    int fd = open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int level = 0; level <= levels && fd >= 0; ++level) {
        if (level % 100 == 0 || level == levels) {
            int created = openat(fd, file.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
            if (created < 0) break;
            close(created);
        }
        if (level == levels) {
            close(fd);
            return true;
        }
        if (mkdirat(fd, name.c_str(), 0755) != 0) break;
        int next = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        close(fd);
        fd = next;
    }
    if (fd >= 0) close(fd);
    return false;
}

#endif

bool PermissionsApply() {
#ifdef _WIN32
    // The permission cases use POSIX mode bits; Windows access lists are not set up here.
    return false;
#else
    return geteuid() != 0;
#endif
}

}  // namespace ostrivane::test
