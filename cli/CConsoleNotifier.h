#pragma once

// The headless front end's way to tell the user about a failure: one line on
// standard error instead of the error dialog or a message box.

#include "core/IUserNotifier.h"

#include <atomic>

namespace cli {

class CConsoleNotifier final : public core::IUserNotifier
{
public:
    void ShowError(const std::string& operation, const std::string& technicalInfo,
                   const std::string& errorText) override;
    void ShowMessage(const std::string& text, bool isError) override;

    // How many errors and error messages were shown.
    int Errors() const { return m_errors.load(); }

private:
    std::atomic<int> m_errors{0};
};

} // namespace cli
