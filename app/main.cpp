#include "DispatchQueue.h"
#include "Log.h"

#include <QApplication>
#include <QMainWindow>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName("Kavio");
    QApplication::setOrganizationName("Kavio");
    KavioLog::setupFileLogging();
    // Tie the main queue to this thread before any other thread asks for it.
    DispatchQueue::main();

    QMainWindow window;
    window.setWindowTitle("Kavio");
    window.resize(1280, 800);
    window.show();
    KLOG_INFO("Kavio started");
    return app.exec();
}
