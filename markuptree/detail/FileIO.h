#pragma once

// Internal to markuptree: whole-file reading and replacing writes.

#include <cstddef>
#include <string>

namespace xml::detail {

enum class read_status
{
    ok,
    system_error, // errno in error
    not_a_file,   // a directory, a device, a pipe ...
    too_large,    // size in size
};

struct read_result
{
    read_status status = read_status::ok;
    int error = 0;
    unsigned long long size = 0;
};

// Reads a regular file of at most maxSize bytes into data. Never blocks on a
// pipe or device: those are refused before they are read.
read_result read_whole_file(const std::string& path, std::size_t maxSize, std::string& data);

// Writes data to a temporary file next to path and renames it over path, so
// that a failed write leaves the old file whole. An existing file keeps its
// permissions. Returns 0 or the errno of the step that failed.
int replace_file(const std::string& path, const std::string& data);

// strerror_r's text for an errno value.
std::string system_text(int error);

} // namespace xml::detail
