#pragma once

// The file an export writes: a temporary file in the folder of the chosen name,
// renamed over that name only when everything was written. A cancelled or
// failed export therefore leaves the chosen name as it was (absent, or the old
// file) and no temporary file behind.
//
// - The temporary file is created with the permissions a new file gets (0666
//   less the umask), or those of the file it will replace.
// - Failures keep the system's error number (errno) of the first failing call.
//
// Threads: one thread uses an object at a time.

#include <memory>
#include <ostream>
#include <string>

namespace panes {

class CEventExportFile final
{
public:
    explicit CEventExportFile(std::string targetPath);
    // Discards what was not committed.
    ~CEventExportFile();
    CEventExportFile(const CEventExportFile&) = delete;
    CEventExportFile& operator=(const CEventExportFile&) = delete;

    // Creates the temporary file; false on failure (see Error).
    bool Open();
    // Buffered; a write that fails sets the stream's bad bit and Error.
    std::ostream& Stream();
    // Writes what is buffered, closes and renames the temporary file over the
    // target; false on failure, when nothing is left under either name.
    bool Commit();
    // Closes and removes the temporary file.
    void Discard();

    // errno of the first failure, 0 while there was none.
    int Error() const { return m_error; }
    const std::string& TargetPath() const { return m_target; }
    // Empty until Open succeeded and again after Commit or Discard.
    const std::string& TempPath() const { return m_temp; }

private:
    class CDescriptorBuffer;

    void Fail(int error);

    std::string m_target;
    std::string m_temp;
    int m_fd = -1;
    int m_error = 0;
    std::unique_ptr<CDescriptorBuffer> m_buffer;
    std::unique_ptr<std::ostream> m_stream;
};

} // namespace panes
