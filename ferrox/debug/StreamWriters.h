#pragma once

#include "ferrox/FerroxApi.h"
#include "ferrox/threads/SmartPtr.h"

#include <cstdio>
#include <string>

// A destination of debug text. Shared through SmartPtr<TStreamWriter>; a writer
// that throws is dropped by the stream that called it.
class FERROX_API TStreamWriter : public virtual SmartPtrObj
{
public:
    // text is zero-terminated at text[length].
    virtual void StreamWriteString(const char* text, unsigned length) = 0;
};

// The debugger's output: standard error on this platform.
class FERROX_API TDebugWriter : public TStreamWriter
{
public:
    void StreamWriteString(const char* text, unsigned length) override;
};

// Standard output, but only when it was asked to "allocate a console"; the
// default streams' console writers stay silent, as in a windowed program.
class FERROX_API TConsoleWriter : public TStreamWriter
{
public:
    explicit TConsoleWriter(bool allocate = false);
    void StreamWriteString(const char* text, unsigned length) override;

private:
    bool m_enabled;
};

// Opens, appends and closes the file on every write; an unopenable file drops the
// text silently.
class FERROX_API TFileWriter : public TStreamWriter
{
public:
    explicit TFileWriter(const std::string& path);
    void StreamWriteString(const char* text, unsigned length) override;
    // The file written now; the Error stream's writer follows the program's
    // state folder, which is known only once the program has named itself.
    virtual std::string Path() const { return m_path; }

private:
    std::string m_path;
};

// Opens the file once (created when missing, positioned at its end) and keeps it
// open; each "\n" is written as "\r\n". When opening fails every write is dropped.
class FERROX_API TPermanentFileWriter : public TStreamWriter
{
public:
    explicit TPermanentFileWriter(const char* path);
    explicit TPermanentFileWriter(const wchar_t* path);
    ~TPermanentFileWriter() override;
    void StreamWriteString(const char* text, unsigned length) override;

private:
    void open(const std::string& path);
    int m_fd = -1;
};
