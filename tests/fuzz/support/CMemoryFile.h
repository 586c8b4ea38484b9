#pragma once

// A file that lives in memory (memfd) and has a path, /proc/self/fd/N, that any
// open() accepts: the file readers under fuzzing get their input as a real
// regular file without touching the disk. Writers that replace a file by
// renaming see the path as a symbolic link and write through it in place.
//
// Threads: one fuzzing thread.

#include "fuzz/support/FuzzCheck.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

class CMemoryFile final
{
public:
    explicit CMemoryFile(const char* name) : m_fd(::memfd_create(name, MFD_CLOEXEC))
    {
        FUZZ_CHECK(m_fd >= 0);
        m_path = "/proc/self/fd/" + std::to_string(m_fd);
    }
    CMemoryFile(const CMemoryFile&) = delete;
    CMemoryFile& operator=(const CMemoryFile&) = delete;
    ~CMemoryFile() { ::close(m_fd); }

    const std::string& Path() const { return m_path; }

    // Makes the file hold exactly these bytes.
    void Replace(const std::uint8_t* data, std::size_t size)
    {
        FUZZ_CHECK(::ftruncate(m_fd, 0) == 0);
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = ::pwrite(m_fd, data + done, size - done, static_cast<off_t>(done));
            if (n < 0 && errno == EINTR)
                continue;
            FUZZ_CHECK(n > 0);
            done += static_cast<std::size_t>(n);
        }
    }

private:
    int m_fd;
    std::string m_path;
};
