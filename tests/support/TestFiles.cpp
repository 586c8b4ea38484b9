#include "support/TestFiles.h"

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <stdlib.h>

namespace testsupport {

TempFolder::TempFolder(const std::string& prefix)
{
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

TempFolder::~TempFolder()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

void WriteBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class StreamCapture::CWriter final : public TStreamWriter
{
public:
    void StreamWriteString(const char* text, unsigned length) override
    {
        std::lock_guard lock(m_lock);
        m_text.append(text, length);
    }
    std::string Text()
    {
        std::lock_guard lock(m_lock);
        return m_text;
    }

private:
    std::mutex m_lock;
    std::string m_text;
};

StreamCapture::StreamCapture(TDebugStream& stream) : m_stream(stream), m_writer(new CWriter)
{
    m_stream.AddWriter(m_writer);
}

StreamCapture::~StreamCapture()
{
    m_stream.RemoveWriter(m_writer);
}

std::string StreamCapture::Text()
{
    return static_cast<CWriter*>(m_writer.get())->Text();
}

} // namespace testsupport
