#include "support/QtEnvironment.h"

#include <cstdlib>

void QtEnvironment::SetUp()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::setenv("XDG_CONFIG_HOME", m_config.Path().c_str(), 1);
    ::setenv("XDG_CACHE_HOME", m_cache.Path().c_str(), 1);
    // The web engine wants shared OpenGL contexts set before the application object exists.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    static int argc = 1;
    static char name[] = "orvane-test";
    static char* argv[] = {name, nullptr};
    m_app = std::make_unique<QApplication>(argc, argv);
}

void QtEnvironment::TearDown()
{
    m_app.reset();
}
