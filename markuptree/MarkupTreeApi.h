#pragma once

// libmarkuptree.so is built with hidden visibility: only what is marked
// MARKUPTREE_API leaves it.
#define MARKUPTREE_API __attribute__((visibility("default")))
