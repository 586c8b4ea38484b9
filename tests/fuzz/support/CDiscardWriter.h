#pragma once

// A debug-stream writer that keeps nothing: the fuzz targets leave the Debug
// stream on, so that the readers' reporting of damaged parts (formatting an
// exception's values made of hostile text) runs on every input, without
// flooding standard error. It checks what the stream promises its writers.

#include "ferrox/debug/StreamWriters.h"

#include "fuzz/support/FuzzCheck.h"

class CDiscardWriter final : public TStreamWriter
{
public:
    void StreamWriteString(const char* text, unsigned length) override
    {
        FUZZ_CHECK(text != nullptr && text[length] == '\0');
    }
};
