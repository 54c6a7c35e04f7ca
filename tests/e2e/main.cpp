#include <QApplication>
#include <gtest/gtest.h>

// The web engine wants shared OpenGL contexts set before the application object exists.
int main(int argc, char** argv)
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
