#include "core/temp_tree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace ostrivane::test {

TempTree::TempTree() {
    std::string tmpl = (fs::temp_directory_path() / "ostrivane-test-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    root_ = tmpl;
}

TempTree::~TempTree() {
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
}

std::string TempTree::path(const std::string& relative) const {
    return root_ + "/" + relative;
}

std::string TempTree::mkdir(const std::string& relative) const {
    std::string p = path(relative);
    fs::create_directories(p);
    return p;
}

std::string TempTree::write(const std::string& relative, const std::string& content) const {
    std::string p = path(relative);
    fs::create_directories(fs::path(p).parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) throw std::runtime_error("cannot write " + p);
    return p;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "<missing>";
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool Exists(const std::string& path) {
    std::error_code ec;
    return fs::symlink_status(path, ec).type() != fs::file_type::not_found && !ec;
}

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

bool PermissionsApply() {
    return geteuid() != 0;
}

}  // namespace ostrivane::test
