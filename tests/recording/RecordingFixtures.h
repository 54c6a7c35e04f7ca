#pragma once

#include "support/Files.h"
#include "support/TempFolder.h"

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

// Writes through to the real file until `budget` bytes have gone out, then reports a full disk,
// splitting the write that crosses the limit as the kernel does.
struct FillingDisk
{
    std::size_t budget;

    ssize_t operator()(int fd, const void* data, size_t size)
    {
        if (budget == 0)
        {
            errno = ENOSPC;
            return -1;
        }
        const size_t n = std::min(size, budget);
        const ssize_t written = ::write(fd, data, n);
        if (written > 0)
            budget -= static_cast<size_t>(written);
        return written;
    }
};
