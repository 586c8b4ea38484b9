#include "panes/CEventExportFile.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <streambuf>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace panes {

namespace {

constexpr std::size_t kBufferSize = 256 * 1024;
// Names tried before giving up on a temporary file (another one may hold a name).
constexpr int kNameAttempts = 100;

std::atomic<unsigned> g_tempCounter{0};

std::string FolderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string NameOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

// A stream buffer over a descriptor that remembers the errno of the first
// write that failed and drops everything after it.
class CEventExportFile::CDescriptorBuffer final : public std::streambuf
{
public:
    explicit CDescriptorBuffer(int fd) : m_fd(fd), m_data(kBufferSize)
    {
        setp(m_data.data(), m_data.data() + m_data.size());
    }

    int Error() const { return m_error; }

    // Writes out what is buffered; false when a write failed (now or before).
    bool Drain()
    {
        const char* p = pbase();
        std::size_t left = static_cast<std::size_t>(pptr() - pbase());
        while (left > 0 && m_error == 0) {
            const ssize_t written = ::write(m_fd, p, left);
            if (written < 0) {
                if (errno == EINTR)
                    continue;
                m_error = errno;
                break;
            }
            p += written;
            left -= static_cast<std::size_t>(written);
        }
        setp(m_data.data(), m_data.data() + m_data.size());
        return m_error == 0;
    }

protected:
    int_type overflow(int_type c) override
    {
        if (!Drain())
            return traits_type::eof();
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }

    std::streamsize xsputn(const char* s, std::streamsize n) override
    {
        std::streamsize done = 0;
        while (done < n) {
            if (pptr() == epptr() && !Drain())
                return done;
            const std::streamsize room = epptr() - pptr();
            const std::streamsize chunk = std::min(room, n - done);
            traits_type::copy(pptr(), s + done, static_cast<std::size_t>(chunk));
            pbump(static_cast<int>(chunk));
            done += chunk;
        }
        return done;
    }

    int sync() override { return Drain() ? 0 : -1; }

private:
    int m_fd;
    std::vector<char> m_data;
    int m_error = 0;
};

CEventExportFile::CEventExportFile(std::string targetPath) : m_target(std::move(targetPath)) {}

CEventExportFile::~CEventExportFile()
{
    Discard();
}

void CEventExportFile::Fail(int error)
{
    if (m_error == 0)
        m_error = error != 0 ? error : EIO;
}

bool CEventExportFile::Open()
{
    Discard();
    m_error = 0;
    const std::string folder = FolderOf(m_target);
    const std::string name = NameOf(m_target);
    if (name.empty()) {
        Fail(EISDIR);
        return false;
    }
    // A file the export replaces keeps its permissions, as a truncated one would.
    struct stat existing = {};
    const bool replaces = ::stat(m_target.c_str(), &existing) == 0 && S_ISREG(existing.st_mode);
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::string temp = folder + "/." + name + "." + std::to_string(::getpid()) + "." +
                                 std::to_string(g_tempCounter.fetch_add(1)) + ".part";
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            Fail(errno);
            return false;
        }
        m_fd = fd;
        m_temp = temp;
        if (replaces)
            ::fchmod(m_fd, existing.st_mode & 07777);
        m_buffer = std::make_unique<CDescriptorBuffer>(m_fd);
        m_stream = std::make_unique<std::ostream>(m_buffer.get());
        return true;
    }
    Fail(EEXIST);
    return false;
}

std::ostream& CEventExportFile::Stream()
{
    if (!m_stream) {
        // Not open: a stream that takes nothing.
        static thread_local std::ostream nowhere(nullptr);
        nowhere.setstate(std::ios::badbit);
        return nowhere;
    }
    return *m_stream;
}

bool CEventExportFile::Commit()
{
    if (m_fd < 0) {
        Fail(EBADF);
        return false;
    }
    m_stream->flush();
    if (!m_buffer->Drain() || m_buffer->Error() != 0)
        Fail(m_buffer->Error());
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0)
        Fail(errno);
    if (m_error == 0 && ::rename(m_temp.c_str(), m_target.c_str()) != 0)
        Fail(errno);
    if (m_error != 0) {
        ::unlink(m_temp.c_str());
        m_temp.clear();
        return false;
    }
    m_temp.clear();
    m_stream.reset();
    m_buffer.reset();
    return true;
}

void CEventExportFile::Discard()
{
    m_stream.reset();
    m_buffer.reset();
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_temp.empty()) {
        ::unlink(m_temp.c_str());
        m_temp.clear();
    }
}

} // namespace panes
