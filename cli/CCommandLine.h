#pragma once

// The command line of kanaliko-cli: a command, its positional arguments
// (peers or targets) and its options. Options take "--name value" or
// "--name=value"; flags take no value. An option with a short name may also be
// given as "-x" (and "-x value"). Anything unknown, a missing value or a
// malformed number is a usage error (exit status 2).

#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace cli {

// A usage error: the message is printed on one line, the exit status is 2.
class EUsage : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// A file or set-up failure (a missing scheme, a file that cannot be written, no
// right to open raw sockets): one line, exit status 2.
class ESetupError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

struct OptionInfo
{
    std::string name;       // without the dashes
    bool takesValue = true; // false: a flag
    std::string help;       // "FILE  what it does"
    char shortName = 0;     // 'n' for -n; 0: none
};

class CCommandLine
{
public:
    // Parses argv[first..]: positional words and the options listed.
    CCommandLine(int argc, char** argv, int first, const std::vector<OptionInfo>& options);

    const std::vector<std::string>& Positional() const { return m_positional; }
    bool Has(const std::string& name) const;
    std::optional<std::string> Value(const std::string& name) const;
    std::string ValueOr(const std::string& name, const std::string& fallback) const;
    // A whole decimal number within [low, high], or the fallback when absent.
    long Number(const std::string& name, long fallback, long low, long high) const;

    // The help text of a command's options.
    static std::string OptionsHelp(const std::vector<OptionInfo>& options);

private:
    std::vector<std::string> m_positional;
    std::map<std::string, std::string> m_values;
    std::set<std::string> m_flags;
};

// A whole decimal number within [low, high]; EUsage naming `what` otherwise.
long ParseNumber(const std::string& text, long low, long high, const std::string& what);

} // namespace cli
