#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <string_view>

// Hands every byte to `write` (called as write(fd, data, size) like ::write), resuming after
// short writes and signals. On failure `error` holds the reason (EIO for a write that made no
// progress without one) and `done` how many bytes went out before it.
template <class WriteFunction>
bool WriteAllWith(WriteFunction&& write, int fd, const char* data, std::size_t size,
                  std::size_t& done, int& error)
{
    done = 0;
    while (done < size)
    {
        const ssize_t put = write(fd, data + done, size - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
        {
            error = put < 0 ? errno : EIO;
            return false;
        }
        done += static_cast<std::size_t>(put);
    }
    return true;
}

inline bool WriteAll(int fd, const char* data, std::size_t size, int& error)
{
    std::size_t done = 0;
    return WriteAllWith(::write, fd, data, size, done, error);
}

// For callers that only report whether everything was written; errno still tells why not.
inline bool WriteAll(int fd, std::string_view bytes)
{
    int error = 0;
    return WriteAll(fd, bytes.data(), bytes.size(), error);
}
