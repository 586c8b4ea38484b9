#pragma once

// Sets up the environment of a test process (state and config folders in the
// build tree, the offscreen Qt platform); every test main calls it first.
void PrepareTestProcess();

// ThreadSanitizer's suppressions for every test process: getnameinfo grows a
// scratch buffer inside glibc, which the sanitizer does not see allocated and
// freed per call, so two route workers looking names up at once look to it
// like two threads writing one block.
#define KANALIKO_TSAN_SUPPRESSIONS "race:libc_dynarray_emplace_enlarge\n"
