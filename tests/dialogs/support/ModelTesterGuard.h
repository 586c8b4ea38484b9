#pragma once

// While it lives, every complaint of a QAbstractItemModelTester (its warnings,
// category "qt.modeltest") fails the running GoogleTest test, so a tester in
// Warning mode reports like an assertion instead of only logging.

#include <QtGlobal>

namespace dialogs::test {

class ModelTesterGuard
{
public:
    ModelTesterGuard();
    ~ModelTesterGuard();
    ModelTesterGuard(const ModelTesterGuard&) = delete;
    ModelTesterGuard& operator=(const ModelTesterGuard&) = delete;

private:
    QtMessageHandler m_previous;
};

} // namespace dialogs::test
