#pragma once

// The headless front end's way to tell the user about a failure: one line on
// standard error instead of the error dialog or a message box.

#include "core/IUserNotifier.h"

namespace cli {

class CConsoleNotifier final : public core::IUserNotifier
{
public:
    void ShowError(const std::string& operation, const std::string& technicalInfo,
                   const std::string& errorText) override;
    void ShowMessage(const std::string& text, bool isError) override;
};

} // namespace cli
