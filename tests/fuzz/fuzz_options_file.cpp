// The options reader on arbitrary bytes given as a file. It checks:
// - only EGeneric leaves ReadOptions;
// - a refusal stores the defaults 200, 1, 10, 5 and keeps the options path;
// - a success takes the file's path and its four values, which write and read
//   back unchanged (values are taken as they are, without range checks).

#include "core/CXmlSettings.h"

#include "ferrox/debug/DebugStream.h"
#include "ferrox/exceptions/EGeneric.h"

#include "fuzz/support/CDiscardWriter.h"
#include "fuzz/support/CMemoryFile.h"
#include "fuzz/support/FuzzCheck.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

CMemoryFile& InputFile()
{
    static CMemoryFile file("options-in.xml");
    return file;
}

CMemoryFile& OutputFile()
{
    static CMemoryFile file("options-out.xml");
    return file;
}

bool Read(core::CXmlSettings& settings, const std::string& path)
{
    try {
        settings.ReadOptions(path);
        return true;
    } catch (const EGeneric& error) {
        FUZZ_CHECK(error.what() != nullptr);
        return false;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    Debug.ChangeWriter(SmartPtr<TStreamWriter>(new CDiscardWriter));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    CMemoryFile& input = InputFile();
    input.Replace(data, size);

    const std::string earlierPath = "earlier/options.xml";
    core::CXmlSettings settings;
    settings.SetOptionsPath(earlierPath);
    if (!Read(settings, input.Path())) {
        FUZZ_CHECK(settings.OptionsPath() == earlierPath);
        FUZZ_CHECK(settings.TimeOut() == core::CAppSettings::DefaultTimeOut);
        FUZZ_CHECK(settings.TimeSendDelay() == core::CAppSettings::DefaultTimeSendDelay);
        FUZZ_CHECK(settings.SendDataSize() == core::CAppSettings::DefaultSendDataSize);
        FUZZ_CHECK(settings.MaxSendCount() == core::CAppSettings::DefaultMaxSendCount);
        return 0;
    }
    FUZZ_CHECK(settings.OptionsPath() == input.Path());

    CMemoryFile& output = OutputFile();
    output.Replace(nullptr, 0);
    settings.WriteOptions(output.Path()); // throws only when it cannot write: a crash here
    FUZZ_CHECK(settings.OptionsPath() == input.Path());
    core::CXmlSettings written;
    FUZZ_CHECK(Read(written, output.Path()));
    FUZZ_CHECK(written.TimeOut() == settings.TimeOut());
    FUZZ_CHECK(written.TimeSendDelay() == settings.TimeSendDelay());
    FUZZ_CHECK(written.SendDataSize() == settings.SendDataSize());
    FUZZ_CHECK(written.MaxSendCount() == settings.MaxSendCount());
    return 0;
}
