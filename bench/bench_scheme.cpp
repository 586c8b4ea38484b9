// Reading and writing a scheme of 10,000 groups (each with two TCP, two UDP and
// one IP channel, Cyrillic names), the size a large protected network reaches.
// Writing includes the temporary file, fsync and rename of a real save.

#include "core/CXmlSettings.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr int kGroups = 10000;

std::vector<channel::SchemeGroup> MakeGroups()
{
    std::vector<channel::SchemeGroup> groups;
    groups.reserve(kGroups);
    for (int i = 0; i < kGroups; ++i) {
        channel::SchemeGroup group;
        group.senderName = L"Узел отправитель " + std::to_wstring(i);
        group.receiverName = L"Узел получатель " + std::to_wstring(i + 1);
        const auto base = static_cast<std::uint16_t>(1025 + (i * 5) % 60000);
        group.tcpPairs = {{base, 0}, {static_cast<std::uint16_t>(base + 1), 0}};
        group.udpPairs = {
            {static_cast<std::uint16_t>(base + 2), static_cast<std::uint16_t>(base + 3)},
            {static_cast<std::uint16_t>(base + 4), 0}};
        group.ipPairs = {{253, 0}};
        groups.push_back(std::move(group));
    }
    return groups;
}

class SchemeFixture
{
public:
    SchemeFixture()
    {
        std::string pattern = (fs::temp_directory_path() / "kanaliko-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            std::abort();
        m_folder = pattern;
        m_path = (m_folder / "scheme.xml").string();
        m_settings.SetGroups(MakeGroups());
        if (!m_settings.WriteScheme(m_path))
            std::abort();
    }
    ~SchemeFixture()
    {
        std::error_code ignored;
        fs::remove_all(m_folder, ignored);
    }
    core::CXmlSettings& Settings() { return m_settings; }
    const std::string& Path() const { return m_path; }
    std::size_t FileSize() const { return static_cast<std::size_t>(fs::file_size(m_path)); }

private:
    fs::path m_folder;
    std::string m_path;
    core::CXmlSettings m_settings;
};

SchemeFixture& Fixture()
{
    static SchemeFixture fixture;
    return fixture;
}

void BM_ReadScheme10k(benchmark::State& state)
{
    SchemeFixture& fixture = Fixture();
    core::CXmlSettings settings;
    for (auto _ : state) {
        settings.ReadScheme(fixture.Path());
        benchmark::DoNotOptimize(settings.Groups().data());
    }
    if (settings.Groups().size() != kGroups)
        state.SkipWithError("the scheme did not load whole");
    state.counters["groups/s"] =
        benchmark::Counter(kGroups, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["file_MB"] = static_cast<double>(fixture.FileSize()) / (1024.0 * 1024.0);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(fixture.FileSize()));
}

void BM_WriteScheme10k(benchmark::State& state)
{
    SchemeFixture& fixture = Fixture();
    const std::string out = fixture.Path() + ".out";
    for (auto _ : state) {
        if (!fixture.Settings().WriteScheme(out))
            state.SkipWithError("the scheme could not be written");
    }
    state.counters["groups/s"] =
        benchmark::Counter(kGroups, benchmark::Counter::kIsIterationInvariantRate);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(fs::file_size(out)));
}

} // namespace

BENCHMARK(BM_ReadScheme10k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteScheme10k)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
