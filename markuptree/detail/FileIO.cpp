#include "markuptree/detail/FileIO.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace xml::detail {

namespace {

// Closes the descriptor on every path out.
class fd_guard
{
public:
    explicit fd_guard(int fd) : m_fd(fd) {}
    fd_guard(const fd_guard&) = delete;
    fd_guard& operator=(const fd_guard&) = delete;
    ~fd_guard()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int get() const { return m_fd; }
    // Closes now and reports the close error (a full disk may show only here).
    int close_now()
    {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0 ? 0 : errno;
    }

private:
    int m_fd;
};

int write_all(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return 0;
}

int write_in_place(const std::string& path, const std::string& data)
{
    fd_guard fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (fd.get() < 0)
        return errno;
    if (int error = write_all(fd.get(), data.data(), data.size()))
        return error;
    return fd.close_now();
}

} // namespace

read_result read_whole_file(const std::string& path, std::size_t maxSize, std::string& data)
{
    read_result result;
    data.clear();
    // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused below.
    fd_guard fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) {
        result.status = read_status::system_error;
        result.error = errno;
        return result;
    }
    struct stat st
    {};
    if (::fstat(fd.get(), &st) != 0) {
        result.status = read_status::system_error;
        result.error = errno;
        return result;
    }
    if (!S_ISREG(st.st_mode)) {
        result.status = read_status::not_a_file;
        return result;
    }
    result.size = static_cast<unsigned long long>(st.st_size);
    if (result.size > maxSize) {
        result.status = read_status::too_large;
        return result;
    }
    data.resize(static_cast<std::size_t>(result.size));
    std::size_t have = 0;
    // The file may change while it is read: take what is there, up to the limit.
    for (;;) {
        if (have == data.size()) {
            if (data.size() >= maxSize)
                break;
            data.resize(std::min(maxSize, data.size() + 65536));
        }
        const ssize_t n = ::read(fd.get(), data.data() + have, data.size() - have);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            result.status = read_status::system_error;
            result.error = errno;
            data.clear();
            return result;
        }
        if (n == 0)
            break;
        have += static_cast<std::size_t>(n);
    }
    if (have == data.size() && data.size() >= maxSize) {
        // Grew past the limit while being read.
        char probe = 0;
        if (::read(fd.get(), &probe, 1) > 0) {
            result.status = read_status::too_large;
            data.clear();
            return result;
        }
    }
    data.resize(have);
    result.size = have;
    return result;
}

int replace_file(const std::string& path, const std::string& data)
{
    static std::atomic<unsigned> counter{0};
    if (path.empty())
        return ENOENT;
    struct stat target
    {};
    const bool exists = ::stat(path.c_str(), &target) == 0;
    if (exists && S_ISDIR(target.st_mode))
        return EISDIR;

    struct stat link
    {};
    if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        // Renaming over a symbolic link would replace the link itself: write
        // through it in place instead.
        return write_in_place(path, data);
    }

    const std::string temp = path + ".~" + std::to_string(::getpid()) + "-" +
                             std::to_string(counter.fetch_add(1)) + ".tmp";
    fd_guard fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (fd.get() < 0) {
        // A file that may be written in a folder that may not: in place, then.
        if ((errno == EACCES || errno == EPERM) && exists)
            return write_in_place(path, data);
        return errno;
    }
    int error = write_all(fd.get(), data.data(), data.size());
    if (error == 0 && exists)
        (void)::fchmod(fd.get(), target.st_mode & 07777); // a courtesy, not a condition
    if (error == 0 && ::fsync(fd.get()) != 0)
        error = errno;
    const int closeError = fd.close_now();
    if (error == 0)
        error = closeError;
    if (error == 0 && ::rename(temp.c_str(), path.c_str()) != 0)
        error = errno;
    if (error != 0)
        ::unlink(temp.c_str());
    return error;
}

std::string system_text(int error)
{
    char buffer[256] = {};
    // GNU strerror_r returns the text, which may or may not be in buffer.
    const char* text = ::strerror_r(error, buffer, sizeof buffer);
    return text ? std::string(text) : std::string();
}

} // namespace xml::detail
