// The sync program Orvane. It takes no command line; the client program starts it and
// drives it over the pipes. With a display it shows its tray icon and windows; without
// one it runs headless. SIGINT and SIGTERM end it as the client's exit command does,
// with the state saved.
#include <malloc.h>
#include <pthread.h>
#include <signal.h>

#include <csignal>
#include <thread>

#include "sync/app/OrvaneApp.h"
#include "sync/desktop/Desktop.h"

int main(int argc, char** argv) {
    // One heap for all threads: the listing and digest workers build tree nodes that live on
    // after them and are freed elsewhere, and a heap per thread kept that freed memory from
    // every other thread (with a million files, over a third of the program's peak).
    mallopt(M_ARENA_MAX, 1);
    std::signal(SIGPIPE, SIG_IGN);
    // Every thread of the program inherits the blocked signals; one thread takes them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    // The desktop (and its Qt application) exists before the program and ends after it.
    std::unique_ptr<orvane_desktop::Desktop> desktop = orvane_desktop::Desktop::Start(argc, argv);
    OrvaneOptions options;
    if (desktop) desktop->Fill(options);
    COrvaneApp app(options);
    if (desktop) desktop->Bind(app);
    std::thread signalThread([&app, signals] {
        for (;;) {
            int received = 0;
            if (sigwait(&signals, &received) != 0) continue;
            if (received == SIGUSR1) return;  // the program ends
            app.RequestExit();
        }
    });
    const int code = app.Run();
    pthread_kill(signalThread.native_handle(), SIGUSR1);
    signalThread.join();
    return code;
}
