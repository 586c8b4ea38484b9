#pragma once

// Small helpers for tests that read and write files and watch debug streams.

#include "ferrox/debug/DebugStream.h"
#include "ferrox/exceptions/EGeneric.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>
#include <string>

namespace testsupport {

// A fresh folder under the system's temporary folder, removed with everything
// in it when the object goes.
class TempFolder
{
public:
    explicit TempFolder(const std::string& prefix = "kanaliko");
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    std::string File(const std::string& name) const { return (m_path / name).string(); }
    const std::filesystem::path& Path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

void WriteBytes(const std::string& path, const std::string& bytes);
std::string ReadBytes(const std::string& path);

// Collects what is written to a debug stream while the object lives.
class StreamCapture
{
public:
    explicit StreamCapture(TDebugStream& stream);
    ~StreamCapture();
    StreamCapture(const StreamCapture&) = delete;
    StreamCapture& operator=(const StreamCapture&) = delete;
    std::string Text();

private:
    class CWriter;
    TDebugStream& m_stream;
    SmartPtr<TStreamWriter> m_writer;
};

// Runs the call, expects an EGeneric and returns it (with its report file
// removed); a call that does not throw fails the test.
template <class F>
EGeneric ExpectFailure(F&& call)
{
    try {
        call();
    } catch (EGeneric& e) {
        e.cancel_minidump();
        return e;
    }
    ADD_FAILURE() << "expected an EGeneric";
    return EGeneric(false);
}

} // namespace testsupport
