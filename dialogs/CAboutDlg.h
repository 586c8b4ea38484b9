#pragma once

// "О программе": the program's name with its version, the copyright line, a
// link to the project's site, a picture and "OK".
//
// For the main window ("О программе"):
//
//   dialogs::CAboutDlg::Show(mainWindow);
//
// The version is the build's own: the CMake project version, the copyright
// line and the site's address from the generated version header
// (version/Version.h, set in the top-level CMakeLists.txt). When a version text
// is not usable, the version field says why (VersionText).
//
// Threads: the GUI thread only.

#include <QDialog>
#include <QString>

namespace dialogs {

class CAboutDlg final : public QDialog
{
    Q_OBJECT

public:
    // Runs the dialog modally over parent.
    static void Show(QWidget* parent);

    // What the version field shows for a compiled-in version text:
    //   null (no version text at all)            "Невозможно получить версию"
    //   empty or blank                           "Версия не установлена"
    //   not numbers separated by dots            "Ошибка извлечения версии"
    //   otherwise                                the version itself
    static QString VersionText(const char* compiledVersion);
    // The build's version, copyright line and site address.
    static QString BuildVersionText();
    static QString CopyrightText();
    static QString SiteAddress();

    explicit CAboutDlg(QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;
};

} // namespace dialogs
