// The one main of the Qt tests (test_main.cpp, library tirvane_test_main).
// Every binary linking it gets GoogleTest, Qt's offscreen platform unless the
// environment names another, a home and XDG folders of its own for the whole
// run (so no test reads or writes the user's settings or history, nor those
// of a test running beside it), and one application object. What a binary
// needs beyond that it says by defining TestMainSetUp.
#pragma once

#include <QCoreApplication>

#include <memory>
#include <string>

struct TTestMain {
    // Offscreen: Qt's offscreen platform. XServerIfAny: a private X server
    // when one starts, offscreen otherwise (the tests that need it skip).
    // XServer: a private X server or the run fails.
    enum TScreen { Offscreen, XServerIfAny, XServer };
    TScreen Screen = Offscreen;
    int ScreenWidth = 2000;
    int ScreenHeight = 1000;
    // A mount namespace of its own, entered before any thread starts, for
    // read-only and full folders.
    bool PrivateMounts = false;
    // The application object; none given: a QCoreApplication.
    std::unique_ptr<QCoreApplication> (*MakeApplication)(int& argc, char** argv) = nullptr;
    void (*BeforeApplication)() = nullptr;
    void (*AfterApplication)() = nullptr;
    void (*AtEnd)() = nullptr;
};

template <class TApp>
std::unique_ptr<QCoreApplication> MakeTestApplication(int& argc, char** argv)
{
    return std::make_unique<TApp>(argc, argv);
}

// Defined by each binary that links tirvane_test_main.
TTestMain TestMainSetUp();

// The private X server's display (":N"); empty when the run has none.
const std::string& TestScreenName();
