// One private temporary folder (mode 0700) that is removed with everything in it when its owner
// ends, and a process-wide list of the live ones that a signal handler can remove on its way out.
#pragma once

#include <string>

#include "base/Result.h"

namespace tessarin {

class PrivateFolder {
public:
    // Makes a fresh folder under $TMPDIR (or /tmp when that is unset or not absolute) and registers
    // it so that removeRegisteredPrivateFolders() finds it.
    static Result<PrivateFolder> create(const std::string& prefix = "tessarin-");
    // The same under `parent` (absolute), as a caller that owns and removes `parent` hands it to a
    // child process, or as a container inside a container is given a folder of its own.
    static Result<PrivateFolder> create(const std::string& prefix, const std::string& parent);

    PrivateFolder(PrivateFolder&& other) noexcept;
    PrivateFolder& operator=(PrivateFolder&& other) noexcept;
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;
    ~PrivateFolder();

    const std::string& path() const { return path_; }
    // The folder kept open, for reads and writes relative to it (openat and its kin), so that a
    // rename of a parent cannot redirect them.
    int fd() const { return fd_; }
    // Removes the folder now; later calls do nothing.
    void remove();

private:
    PrivateFolder(std::string path, int fd, int slot) : path_(std::move(path)), fd_(fd), slot_(slot) {}
    std::string path_;
    int fd_ = -1;
    int slot_ = -1;  // its place in the registry; -1 when not registered
};

// Removes every registered folder that has not been removed yet. Async-signal-safe (only open,
// getdents64, unlinkat, fchmod and close, on fixed buffers), for SIGINT and SIGTERM handlers that
// then re-raise the signal. Never follows a symbolic link: links inside are removed as links.
void removeRegisteredPrivateFolders() noexcept;

// Removes `path` and everything under it without following links; async-signal-safe. Returns false
// when something could not be removed.
bool removeTreeNoFollow(const char* path) noexcept;

}  // namespace tessarin
