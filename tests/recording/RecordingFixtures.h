#pragma once

#include "support/Files.h"
#include "support/TempFolder.h"

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <filesystem>
#include <string>

inline std::wstring Wide(const std::filesystem::path& path)
{
    return path.wstring();
}

// Writes through to the real file until `budget` bytes of new space have gone out, then reports
// a full disk, splitting the write that crosses the limit as the kernel does. Bytes written over
// what the file already holds take no new space, as on a real disk.
struct FillingDisk
{
    std::size_t budget;

    ssize_t operator()(int fd, const void* data, size_t size)
    {
        struct stat info{};
        const off_t at = ::lseek(fd, 0, SEEK_CUR);
        const size_t inside = ::fstat(fd, &info) == 0 && at >= 0 && at < info.st_size
                                  ? std::min(size, static_cast<size_t>(info.st_size - at))
                                  : 0;
        if (budget == 0 && inside == 0)
        {
            errno = ENOSPC;
            return -1;
        }
        const size_t n = inside + std::min(size - inside, budget);
        const ssize_t written = ::write(fd, data, n);
        if (written > static_cast<ssize_t>(inside))
            budget -= static_cast<size_t>(written) - inside;
        return written;
    }
};
