// libFuzzer target: the raw-socket helper's request parser (and the program's
// answer parser), on arbitrary bytes. Beyond "no crash, no out-of-bounds read"
// it checks what the helper relies on: a request is accepted only when it is
// exactly a request for an allowed protocol, and every refusal carries one of
// the documented errnos.
//
// Built with clang's -fsanitize=fuzzer; with KANALIKO_FUZZ_REPLAY_MAIN defined it
// gets a main that runs the target once over each file named on the command line
// (the seed corpus), so every build checks the seeds without clang.

#include "rawsock/RawSockProtocol.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The helper hands over at most kRequestSize + 1 bytes and the full length;
    // give the parser exactly what it may read, in a buffer of its own, so that
    // a read past it is caught.
    const std::size_t kept = size < rawsock::kRequestSize + 1 ? size : rawsock::kRequestSize + 1;
    std::vector<std::uint8_t> bytes(data, data + kept);
    const rawsock::RequestVerdict verdict = rawsock::ParseRequest(bytes.data(), size);
    switch (verdict.error) {
    case 0: {
        if (size != rawsock::kRequestSize || !rawsock::ProtocolAllowed(verdict.protocol))
            __builtin_trap();
        std::uint8_t again[rawsock::kRequestSize];
        rawsock::EncodeRequest(verdict.protocol, again);
        if (std::memcmp(again, data, sizeof again) != 0)
            __builtin_trap();
        break;
    }
    case EINVAL:
    case EPROTONOSUPPORT:
    case EPERM:
        if (size > rawsock::kRequestSize)
            __builtin_trap();
        break;
    case EMSGSIZE:
        if (size <= rawsock::kRequestSize)
            __builtin_trap();
        break;
    default: __builtin_trap();
    }

    std::vector<std::uint8_t> answer(data, data + size);
    int error = -1;
    if (rawsock::ParseAnswer(answer.data(), answer.size(), &error) &&
        (size != rawsock::kAnswerSize || error < 0))
        __builtin_trap();
    return 0;
}

#ifdef KANALIKO_FUZZ_REPLAY_MAIN
#include <cstdio>
#include <fstream>
#include <iterator>

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        std::ifstream in(argv[i], std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "cannot read %s\n", argv[i]);
            return 1;
        }
        const std::vector<char> file((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(file.data()), file.size());
    }
    std::printf("replayed %d inputs\n", argc - 1);
    return 0;
}
#endif
