// Temporaries beside the final paths, renamed into place together once the whole run succeeded.
#include "tools/capture/stage.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "tools/capture/interrupt.h"

namespace {

constexpr int max_files = 8, max_folders = 4, max_made = 32;

struct StagedFile {
    std::string final_path;       // where the output appears: a symbolic link's target
    std::string temp;             // our temporary; empty when streaming into a special file
    int fd = -1;                  // on `temp`, or on the special file when streaming into it
    int special_fd = -1;          // the special file that receives `temp` at commit
    std::FILE* stream = nullptr;  // owns `fd` once made
    bool special = false;         // a device, FIFO or standard output: never renamed or removed
    bool existed = false;         // final_path named a file already: dev and ino are valid
    dev_t dev = 0;
    ino_t ino = 0;
};

struct StagedFolder {
    std::string final_dir, temp;
};

static struct {
    StagedFile files[max_files];
    int file_count;
    StagedFolder folders[max_folders];
    int folder_count;
    std::string made[max_made];  // folders this run created, parents first
    int made_count;
} stage;

// Prints "vorta-capture: cannot <what> <path>: <errno's text>" and returns 0.
int fail(const char* what, const std::string& path) {
    std::fprintf(stderr, "vorta-capture: cannot %s %s: %s\n", what, path.c_str(),
                 std::strerror(errno ? errno : EIO));
    return 0;
}

// Standard output, and paths that name devices or a process's open files rather than a place
// in a folder: never replaced by a rename, never removed.
bool special_name(const char* path) {
    return std::strcmp(path, "-") == 0 || std::strncmp(path, "/dev/", 5) == 0 ||
           std::strncmp(path, "/proc/", 6) == 0;
}

// Mode bits of a new file: what open() with 0666 would give under the current umask.
mode_t new_file_mode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

std::string temp_folder() {
    const char* tmp = std::getenv("TMPDIR");
    return tmp && *tmp ? tmp : "/tmp";
}

// Creates `pattern` (ending in XXXXXX) with mkostemp; the descriptor, or -1 with a message.
int make_temp(std::string* pattern, const std::string& folder, mode_t mode) {
    const int fd = mkostemp(pattern->data(), O_CLOEXEC);
    if (fd < 0) return fail("create a temporary file in", folder), -1;
    // mkostemp gives 0600; the output gets the mode the final file has or would have.
    fchmod(fd, mode);
    return fd;
}

// Opens the special file `path` for writing, standard output for "-". -1 after a message.
int open_special(const char* path) {
    // No O_CREAT: a mistyped device name must not become a regular file under /dev.
    const int fd = std::strcmp(path, "-") == 0 ? fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3)
                                               : open(path, O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) fail("open", path);
    return fd;
}

// 1 when `path` (already resolved) or the file it names is registered for another output.
bool taken(const std::string& path, bool exists, const struct stat& st) {
    for (int i = 0; i < stage.file_count; ++i) {
        const StagedFile& f = stage.files[i];
        if (f.special) continue;  // /dev/null may take two outputs
        if (f.final_path == path ||
            (exists && f.existed && f.dev == st.st_dev && f.ino == st.st_ino)) {
            return true;
        }
    }
    return false;
}

// Flushes, syncs and closes the slot's file. 1 when every step succeeded.
int close_file(StagedFile& f) {
    const std::string& name = f.final_path;
    int ok = 1;
    errno = 0;
    if (f.stream) {
        ok = std::fflush(f.stream) == 0 && !std::ferror(f.stream);
        if (!ok) fail("write", name);
        // A pipe or a terminal cannot be synced (EINVAL); only our temporaries need to be.
        if (ok && !f.temp.empty() && fsync(fileno(f.stream)) != 0) ok = fail("write", name);
        if (std::fclose(f.stream) != 0 && ok) ok = fail("write", name);
        f.stream = nullptr;
        f.fd = -1;
    } else if (f.fd >= 0) {
        if (!f.temp.empty() && fsync(f.fd) != 0) ok = fail("write", name);
        if (close(f.fd) != 0 && ok) ok = fail("write", name);
        f.fd = -1;
    }
    return ok;
}

// Writes all of `size` bytes to `fd`, going on after a signal that does not stop the run.
int write_all(int fd, const char* bytes, std::size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, bytes, size);
        if (n < 0 && errno == EINTR && !interrupt_signal()) continue;
        if (n <= 0) return 0;
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return 1;
}

// Copies the complete temporary into the special file and closes both. 1 on success.
int copy_into_special(StagedFile& f) {
    static char buffer[1 << 16];
    const int in = open(f.temp.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return fail("read back", f.temp);
    int ok = 1;
    for (;;) {
        const ssize_t n = read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR && !interrupt_signal()) continue;
        if (n < 0) {
            ok = fail("read back", f.temp);
            break;
        }
        if (n == 0) break;
        if (!write_all(f.special_fd, buffer, static_cast<std::size_t>(n))) {
            ok = fail("write", f.final_path);
            break;
        }
    }
    close(in);
    if (close(f.special_fd) != 0 && ok) ok = fail("write", f.final_path);
    f.special_fd = -1;
    return ok;
}

// Moves every file of the staging folder into the final one, then removes the staging folder.
int move_folder(StagedFolder& d) {
    DIR* dir = opendir(d.temp.c_str());
    if (!dir) return fail("read", d.temp);
    int ok = 1;
    while (const dirent* e = readdir(dir)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        const std::string to = d.final_dir + "/" + e->d_name;
        if (std::rename((d.temp + "/" + e->d_name).c_str(), to.c_str()) != 0) {
            ok = fail("write", to);
            break;
        }
    }
    closedir(dir);
    if (ok && rmdir(d.temp.c_str()) != 0) ok = fail("remove", d.temp);
    if (ok) d.temp.clear();
    return ok;
}

}  // namespace

int stage_file(const char* path, StageMode mode) {
    if (stage.file_count == max_files) {
        std::fputs("vorta-capture: too many output files\n", stderr);
        return -1;
    }
    StagedFile f;
    struct stat st = {};
    bool special = special_name(path);
    const bool exists = std::strcmp(path, "-") != 0 && stat(path, &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) {
        std::fprintf(stderr, "vorta-capture: %s is a folder; a file name is needed\n", path);
        return -1;
    }
    if (!exists && errno != ENOENT && std::strcmp(path, "-") != 0) return fail("write", path), -1;
    special = special || (exists && !S_ISREG(st.st_mode));
    f.final_path = path;
    if (exists && !special) {
        // Through a symbolic link the file it points to is replaced, and the link stays.
        if (char* real = realpath(path, nullptr)) {
            f.final_path = real;
            std::free(real);
        }
    }
    if (!special && taken(f.final_path, exists, st)) {
        std::fprintf(stderr, "vorta-capture: %s is named by two outputs\n", path);
        return -1;
    }
    f.special = special;
    f.existed = exists;
    f.dev = st.st_dev;
    f.ino = st.st_ino;

    if (special) {
        const int fd = open_special(path);
        if (fd < 0) return -1;
        if (mode == StageMode::stream) {
            f.fd = fd;
        } else {
            f.special_fd = fd;
            const std::string folder = temp_folder();
            f.temp = folder + "/vorta-capture-XXXXXX";
            f.fd = make_temp(&f.temp, folder, 0600);
            if (f.fd < 0) {
                close(fd);
                return -1;
            }
        }
    } else {
        const std::size_t slash = f.final_path.rfind('/');
        const std::string folder = slash == std::string::npos ? "."
                                   : slash == 0               ? "/"
                                                              : f.final_path.substr(0, slash);
        const std::string base =
            slash == std::string::npos ? f.final_path : f.final_path.substr(slash + 1);
        if (base.empty()) {
            std::fprintf(stderr, "vorta-capture: %s names a folder; a file name is needed\n", path);
            return -1;
        }
        // Hidden, and named after the output, so that a left-over one (after SIGKILL or a power
        // cut) says where it came from.
        f.temp = (slash == std::string::npos ? "" : folder + "/") + "." + base + ".XXXXXX";
        f.fd = make_temp(&f.temp, folder, exists ? st.st_mode & 07777 : new_file_mode());
        if (f.fd < 0) return -1;
    }
    stage.files[stage.file_count] = f;
    return stage.file_count++;
}

std::FILE* stage_stream(int slot) {
    StagedFile& f = stage.files[slot];
    if (!f.stream && f.fd >= 0) {
        f.stream = fdopen(f.fd, "wb");
        if (!f.stream) fail("write", f.final_path);
    }
    return f.stream;
}

const char* stage_temp_path(int slot) {
    return stage.files[slot].temp.c_str();
}

const char* stage_folder(const char* dir) {
    if (stage.folder_count == max_folders) {
        std::fputs("vorta-capture: too many output folders\n", stderr);
        return nullptr;
    }
    std::string d = dir;
    while (d.size() > 1 && d.back() == '/') d.pop_back();
    struct stat st = {};
    if (stat(d.c_str(), &st) == 0) {
        if (!S_ISDIR(st.st_mode)) {
            std::fprintf(stderr, "vorta-capture: %s is not a folder\n", dir);
            return nullptr;
        }
    } else if (errno != ENOENT) {
        return fail("create the folder", d), nullptr;
    } else {
        // Each missing folder on the way, remembered so that a failed run takes it away again.
        for (std::size_t at = d.find('/', 1);; at = d.find('/', at + 1)) {
            const std::string part = d.substr(0, at);
            if (mkdir(part.c_str(), 0777) == 0) {
                if (stage.made_count < max_made) stage.made[stage.made_count++] = part;
            } else if (errno != EEXIST) {
                return fail("create the folder", part), nullptr;
            }
            if (at == std::string::npos) break;
        }
    }
    StagedFolder& folder = stage.folders[stage.folder_count];
    folder.final_dir = d;
    folder.temp = d + "/.vorta-capture-XXXXXX";
    if (!mkdtemp(folder.temp.data())) {
        fail("create a folder in", d);
        folder = StagedFolder{};
        return nullptr;
    }
    ++stage.folder_count;
    return folder.temp.c_str();
}

int stage_commit() {
    int ok = 1;
    for (int i = 0; i < stage.file_count; ++i) ok = close_file(stage.files[i]) && ok;
    for (int i = 0; ok && i < stage.file_count; ++i) {
        if (stage.files[i].special_fd >= 0) ok = copy_into_special(stage.files[i]);
    }
    if (ok && interrupt_signal()) ok = 0;
    if (!ok) {
        stage_discard();
        return 0;
    }
    // From here on the outputs are complete: the renames go through as one step.
    interrupt_hold(true);
    for (int i = 0; ok && i < stage.file_count; ++i) {
        StagedFile& f = stage.files[i];
        if (f.special || f.temp.empty()) continue;
        if (std::rename(f.temp.c_str(), f.final_path.c_str()) != 0) {
            ok = fail("write", f.final_path);
        } else {
            f.temp.clear();
        }
    }
    for (int i = 0; ok && i < stage.folder_count; ++i) ok = move_folder(stage.folders[i]);
    if (ok) stage.made_count = 0;  // the folders made now hold the outputs
    stage_discard();               // temporaries of special files; all after a failure
    interrupt_hold(false);
    return ok;
}

void stage_discard() {
    for (int i = 0; i < stage.file_count; ++i) {
        StagedFile& f = stage.files[i];
        if (f.stream)
            std::fclose(f.stream);
        else if (f.fd >= 0)
            close(f.fd);
        if (f.special_fd >= 0) close(f.special_fd);
        if (!f.temp.empty()) unlink(f.temp.c_str());
        f = StagedFile{};
    }
    for (int i = 0; i < stage.folder_count; ++i) {
        std::error_code ignored;
        // Only the hidden folder made by mkdtemp for this run, and what the run put in it.
        if (!stage.folders[i].temp.empty())
            std::filesystem::remove_all(stage.folders[i].temp, ignored);
        stage.folders[i] = StagedFolder{};
    }
    // Deepest first; a folder that now holds something else stays.
    while (stage.made_count > 0) rmdir(stage.made[--stage.made_count].c_str());
    stage.file_count = stage.folder_count = 0;
}
