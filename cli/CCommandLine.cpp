#include "cli/CCommandLine.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace cli {

long ParseNumber(const std::string& text, long low, long high, const std::string& what)
{
    const auto notANumber = [&] {
        return EUsage(
            std::string(what).append(": \"").append(text).append("\" is not a whole number"));
    };
    if (text.empty() || text.find_first_not_of("0123456789-") != std::string::npos)
        throw notANumber();
    errno = 0;
    char* end = nullptr;
    long value = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || end == nullptr || *end != 0)
        throw notANumber();
    if (value < low || value > high)
        throw EUsage(std::string(what)
                         .append(" must be between ")
                         .append(std::to_string(low))
                         .append(" and ")
                         .append(std::to_string(high)));
    return value;
}

CCommandLine::CCommandLine(int argc, char** argv, int first, const std::vector<OptionInfo>& options)
{
    auto find = [&](const std::string& name) -> const OptionInfo* {
        auto it = std::find_if(options.begin(), options.end(),
                               [&](const OptionInfo& s) { return s.name == name; });
        return it == options.end() ? nullptr : &*it;
    };
    bool optionsEnded = false;
    for (int i = first; i < argc; ++i) {
        std::string word = argv[i];
        if (!optionsEnded && word.size() == 2 && word[0] == '-' && word[1] != '-') {
            auto it = std::find_if(options.begin(), options.end(), [&](const OptionInfo& s) {
                return s.shortName != 0 && s.shortName == word[1];
            });
            if (it == options.end())
                throw EUsage(std::string("unknown option ").append(word));
            if (!it->takesValue) {
                m_flags.insert(it->name);
            } else {
                if (i + 1 >= argc)
                    throw EUsage(word + " needs a value");
                m_values[it->name] = argv[++i];
            }
            continue;
        }
        if (optionsEnded || word.size() < 2 || word.compare(0, 2, "--") != 0) {
            if (!optionsEnded && word.size() > 1 && word[0] == '-' && word != "-")
                throw EUsage(std::string("unknown option ").append(word));
            m_positional.push_back(word);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name = word.substr(2);
        std::optional<std::string> inlineValue;
        if (std::size_t eq = name.find('='); eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name.erase(eq);
        }
        const OptionInfo* option = find(name);
        if (option == nullptr)
            throw EUsage(std::string("unknown option --").append(name));
        if (!option->takesValue) {
            if (inlineValue)
                throw EUsage(std::string("--").append(name).append(" takes no value"));
            m_flags.insert(name);
            continue;
        }
        if (inlineValue) {
            m_values[name] = *inlineValue;
        } else {
            if (i + 1 >= argc)
                throw EUsage(std::string("--").append(name).append(" needs a value"));
            m_values[name] = argv[++i];
        }
    }
}

bool CCommandLine::Has(const std::string& name) const
{
    return m_flags.count(name) != 0 || m_values.count(name) != 0;
}

std::optional<std::string> CCommandLine::Value(const std::string& name) const
{
    auto it = m_values.find(name);
    if (it == m_values.end())
        return std::nullopt;
    return it->second;
}

std::string CCommandLine::ValueOr(const std::string& name, const std::string& fallback) const
{
    auto value = Value(name);
    return value ? *value : fallback;
}

long CCommandLine::Number(const std::string& name, long fallback, long low, long high) const
{
    auto value = Value(name);
    if (!value)
        return fallback;
    return ParseNumber(*value, low, high, std::string("--").append(name));
}

std::string CCommandLine::OptionsHelp(const std::vector<OptionInfo>& options)
{
    std::string out;
    for (const auto& option : options) {
        std::string left = option.shortName != 0
                               ? std::string("  -").append(1, option.shortName).append(", --")
                               : std::string("  --");
        left.append(option.name);
        std::string help = option.help;
        if (option.takesValue) {
            std::size_t blank = help.find("  ");
            if (blank != std::string::npos) {
                left.append(" ").append(help.substr(0, blank));
                help = help.substr(help.find_first_not_of(' ', blank));
            }
        }
        if (left.size() < 24)
            left.resize(24, ' ');
        else
            left += "  ";
        out.append(left).append(help).append("\n");
    }
    return out;
}

} // namespace cli
