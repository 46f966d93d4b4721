#include "TwoScreenXvfb.h"

#include <QDir>
#include <QStandardPaths>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

TwoScreenXvfb::~TwoScreenXvfb()
{
    stop();
}

QString TwoScreenXvfb::start()
{
    const QString xvfb = QStandardPaths::findExecutable("Xvfb");
    if (xvfb.isEmpty()) {
        reason_ = "Xvfb is not installed";
        return {};
    }
    runtimeDir_ = QDir::temp().filePath(QString("kavio-two-screen-xvfb-%1").arg(getpid()));
    QDir().mkpath(runtimeDir_);
    int fds[2];
    if (pipe(fds) != 0) {
        reason_ = "no pipe for Xvfb's display number";
        return {};
    }
    const QByteArray fd = QByteArray::number(fds[1]);
    const QByteArray program = xvfb.toUtf8();
    const char* argv[] = {program.constData(), "-displayfd", fd.constData(), "-screen", "0", "1920x1080x24",
                          "-screen", "1", "1280x720x24", "-nolisten", "tcp", nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    const QByteArray logPath = QDir(runtimeDir_).filePath("xvfb.log").toUtf8();
    posix_spawn_file_actions_addopen(&actions, 2, logPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int spawned = posix_spawn(&pid_, program.constData(), &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (spawned != 0) {
        close(fds[0]);
        pid_ = -1;
        reason_ = "Xvfb did not start";
        return {};
    }
    // The server writes its display number once it accepts connections.
    QByteArray number;
    pollfd wait{fds[0], POLLIN, 0};
    while (poll(&wait, 1, 20000) > 0) {
        char c;
        if (read(fds[0], &c, 1) != 1 || c == '\n')
            break;
        number.append(c);
    }
    close(fds[0]);
    if (number.isEmpty()) {
        stop();
        reason_ = "Xvfb with two screens did not come up (see " + QString::fromUtf8(logPath) + ")";
        return {};
    }
    return ":" + QString::fromLatin1(number);
}

void TwoScreenXvfb::stop()
{
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
    }
    if (!runtimeDir_.isEmpty())
        QDir(runtimeDir_).removeRecursively();
    runtimeDir_.clear();
}
