// The client program DravikClient: it lives in the notification area, logs in, and starts
// and drives the sync program Orvane beside it. Its only argument is "-firstrun" (the
// settings open first). SIGINT and SIGTERM end it as the tray's Exit does.
#include <pthread.h>
#include <signal.h>

#include <QApplication>

#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "client/app/DravikClientApp.h"
#include "client/desktop/QtRunDesktop.h"

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGINT);
    sigaddset(&blocked, SIGTERM);
    sigaddset(&blocked, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &blocked, nullptr);

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("DravikClient"));
    QApplication::setQuitOnLastWindowClosed(false);
    std::vector<std::string> arguments(argv + 1, argv + argc);

    QtRunDesktop desktop;
    CDravikClientApp::Options options;
    options.runDesktop = &desktop;
    CDravikClientApp app(options);
    std::thread signalThread([&app, blocked] {
        for (;;) {
            int received = 0;
            if (sigwait(&blocked, &received) != 0) continue;
            if (received == SIGUSR1) return;  // the program ends
            // Before the tray window runs there is nothing to end yet: the start-up's own
            // steps are short, and the window's Exit ends the run.
            app.RequestExit();
        }
    });
    const int code = app.InitInstance(arguments);
    pthread_kill(signalThread.native_handle(), SIGUSR1);
    signalThread.join();
    return code;
}
