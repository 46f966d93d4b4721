#include "Shell/KavioApplicationMain.h"

#include "DispatchQueue.h"
#include "Log.h"
#include "Shell/AppDelegate.h"
#include "Shell/KavioMainInterface.h"
#include "Shell/KavioWindow.h"
#include "UserDefaults.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

// Only async-signal-safe work here: the main thread reads the pipe and asks to quit.
void onQuitSignal(int signal)
{
    const char byte = char(signal);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

// SIGINT and SIGTERM ask to quit like the Quit command does.
std::unique_ptr<QSocketNotifier> watchQuitSignals(AppDelegate& app)
{
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        KLOG_WARN("no quit-signal pipe; SIGINT and SIGTERM end the program at once");
        return nullptr;
    }
    auto notifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, [&app] {
        char byte;
        while (::read(signalPipe[0], &byte, 1) > 0) {
        }
        app.terminate();
    });
    struct sigaction action {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    return notifier;
}

}  // namespace

int KavioApplicationMain(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kavio"));
    QApplication::setOrganizationName(QStringLiteral("Kavio"));
    QApplication::setDesktopFileName(QStringLiteral("kavio"));
    // The main window's close button asks to quit; closing other windows never quits.
    QApplication::setQuitOnLastWindowClosed(false);
    // Tie the main queue to this thread before any other thread asks for it.
    DispatchQueue::main();

    KavioMainInterface mainInterface(UserDefaults::standardUserDefaults());
    AppDelegate& app = mainInterface.appDelegate();
    app.applicationWillFinishLaunching();
    const QStringList arguments = QApplication::arguments().mid(1);
    for (const QString& argument : arguments)
        app.openFile(argument);
    const auto quitSignals = watchQuitSignals(app);

    mainInterface.window().show();
    QTimer::singleShot(0, &application, [&app] { app.applicationDidFinishLaunching(); });
    KLOG_INFO("Kavio started");
    return QApplication::exec();
}
