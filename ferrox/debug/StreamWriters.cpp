#include "ferrox/debug/StreamWriters.h"

#include "ferrox/strings/Strings.h"
#include "ferrox/system/Paths.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

// Writes all of a buffer, going on after short writes and interrupted calls.
bool write_all(int fd, const char* data, std::size_t length)
{
    while (length > 0) {
        ssize_t n = ::write(fd, data, length);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

void TDebugWriter::StreamWriteString(const char* text, unsigned)
{
    // The text is zero-terminated; its length is not trusted, as the debugger's
    // output call did not take one.
    if (text)
        write_all(STDERR_FILENO, text, std::char_traits<char>::length(text));
}

TConsoleWriter::TConsoleWriter(bool allocate) : m_enabled(allocate) {}

void TConsoleWriter::StreamWriteString(const char* text, unsigned length)
{
    if (m_enabled && text)
        write_all(STDOUT_FILENO, text, length);
}

TFileWriter::TFileWriter(const std::string& path) : m_path(path) {}

void TFileWriter::StreamWriteString(const char* text, unsigned length)
{
    const std::string path = Path();
    if (path.empty() || text == nullptr)
        return;
    FILE* file = std::fopen(path.c_str(), "a+");
    if (file == nullptr && errno == ENOENT) {
        std::size_t slash = path.rfind('/');
        if (slash != std::string::npos && slash > 0 && ferrox_create_folders(path.substr(0, slash)))
            file = std::fopen(path.c_str(), "a+");
    }
    if (file == nullptr)
        return; // dropped silently
    std::fwrite(text, 1, length, file);
    std::fclose(file);
}

TPermanentFileWriter::TPermanentFileWriter(const char* path)
{
    if (path)
        open(path);
}

TPermanentFileWriter::TPermanentFileWriter(const wchar_t* path)
{
    if (path)
        open(as_string(path));
}

void TPermanentFileWriter::open(const std::string& path)
{
    m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (m_fd >= 0)
        ::posix_fadvise(m_fd, 0, 0, POSIX_FADV_SEQUENTIAL);
}

TPermanentFileWriter::~TPermanentFileWriter()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void TPermanentFileWriter::StreamWriteString(const char* text, unsigned length)
{
    if (m_fd < 0 || text == nullptr)
        return;
    std::string converted;
    converted.reserve(length + length / 16);
    for (unsigned i = 0; i < length; ++i) {
        if (text[i] == '\n')
            converted += "\r\n";
        else
            converted += text[i];
    }
    write_all(m_fd, converted.data(), converted.size());
}
