#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>

// The web engine wants shared OpenGL contexts set before the application object exists. The
// browser's disk cache goes to a throw-away folder, never the user's.
int main(int argc, char** argv)
{
    QTemporaryDir cache;
    if (!cache.isValid())
        return 1;
    setenv("XDG_CACHE_HOME", cache.path().toLocal8Bit().constData(), 1);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
