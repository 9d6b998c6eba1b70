// GoogleTest entry for every test program: the HTTP client set up before any thread exists,
// then a QApplication for window tests (QT_QPA_PLATFORM=offscreen unless set) or a
// QCoreApplication for the others, so that tests can run event loops.
#include <Network.h>

#ifdef VANTOREL_TEST_WIDGETS
#include <QApplication>
using Application = QApplication;
#else
#include <QCoreApplication>
using Application = QCoreApplication;
#endif

#include <gtest/gtest.h>

#include <cstdio>

using namespace vantorel;

int main(int argc, char **argv)
{
    if (!InitNetwork()) {
        std::fputs("cannot set up the HTTP client\n", stderr);
        return 1;
    }
#ifdef VANTOREL_TEST_WIDGETS
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
    Application app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
