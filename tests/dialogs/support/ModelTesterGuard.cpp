#include "dialogs/support/ModelTesterGuard.h"

#include <QString>

#include <gtest/gtest.h>

#include <cstring>

namespace dialogs::test {

namespace {

QtMessageHandler g_previous = nullptr;

void Handler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type != QtDebugMsg && type != QtInfoMsg && context.category &&
        std::strcmp(context.category, "qt.modeltest") == 0) {
        ADD_FAILURE() << "QAbstractItemModelTester: " << message.toStdString();
        return;
    }
    if (g_previous)
        g_previous(type, context, message);
}

} // namespace

ModelTesterGuard::ModelTesterGuard() : m_previous(qInstallMessageHandler(Handler))
{
    g_previous = m_previous;
}

ModelTesterGuard::~ModelTesterGuard()
{
    qInstallMessageHandler(m_previous);
    g_previous = nullptr;
}

} // namespace dialogs::test
