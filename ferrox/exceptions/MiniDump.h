#pragma once

// Internal to ferrox: the text reports that stand in for mini-dumps, and the
// stack capture they and the diagnostic values share.

#include "ferrox/exceptions/EGeneric.h"

#include <cstdint>
#include <string>
#include <typeinfo>
#include <vector>

namespace ferrox::detail {

// The thrown type's name with a leading "class " and "std::" removed; "C++"
// when none can be determined.
std::string exception_kind(const std::type_info& type);
// Whether a kind occurs anywhere in MiniDumpExcludedTypes.
bool kind_excluded(const std::string& kind);
// True on a thread that is writing a report right now.
bool report_in_progress();
// Return addresses of the calling thread, starting at the fault when a context
// is given (at most 64).
std::vector<void*> capture_frames(const CONTEXT* context);
// First frame outside the modules of SkipModulesForError, else the context's
// instruction pointer, else 0.
std::uintptr_t actual_error_address(const std::vector<void*>& frames, const CONTEXT* context);
std::string build_stack(EXCEPTION_POINTERS* pointers);
// Writes the report and returns its path, "" on any failure. Never throws.
std::string write_report(EXCEPTION_POINTERS* pointers, unsigned dumpType, pid_t threadId,
                         const EGeneric* exception, const char* kind) noexcept;

} // namespace ferrox::detail
