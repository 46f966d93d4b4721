#include "PipeWireTestServer.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QThread>

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

PipeWireTestServer& PipeWireTestServer::shared()
{
    static PipeWireTestServer server;
    return server;
}

pid_t PipeWireTestServer::spawn(const QString& program, const std::vector<QByteArray>& arguments, const QString& log)
{
    const QString path = QStandardPaths::findExecutable(program);
    if (path.isEmpty())
        return -1;
    const QByteArray file = path.toUtf8();
    std::vector<char*> argv{const_cast<char*>(file.constData())};
    for (const QByteArray& a : arguments)
        argv.push_back(const_cast<char*>(a.constData()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const QByteArray logPath = QDir(runtimeDir_).filePath(log).toUtf8();
    posix_spawn_file_actions_addopen(&actions, 1, logPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    const int result = posix_spawn(&pid, file.constData(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (result != 0)
        return -1;
    pids_.push_back(pid);
    return pid;
}

PipeWireTestServer::PipeWireTestServer()
{
    runtimeDir_ = QDir::temp().filePath(QString("kavio-pipewire-%1").arg(getpid()));
    QDir().mkpath(runtimeDir_);
    chmod(runtimeDir_.toUtf8().constData(), 0700);
    setenv("XDG_RUNTIME_DIR", runtimeDir_.toUtf8().constData(), 1);
    const QString bus = QDir(runtimeDir_).filePath("bus");
    const QByteArray address = "unix:path=" + bus.toUtf8();
    setenv("DBUS_SESSION_BUS_ADDRESS", address.constData(), 1);
    // PipeWire reads no user configuration of the developer's.
    setenv("PIPEWIRE_RUNTIME_DIR", runtimeDir_.toUtf8().constData(), 1);

    auto waitFor = [](const QString& path) {
        for (int i = 0; i < 100 && !QFile::exists(path); ++i)
            QThread::msleep(50);
        return QFile::exists(path);
    };
    if (spawn("dbus-daemon", {"--session", "--nofork", "--address=" + address}, "dbus.log") < 0 || !waitFor(bus)) {
        reason_ = "no private dbus-daemon (package dbus-daemon)";
        return;
    }
    if (spawn("pipewire", {}, "pipewire.log") < 0 || !waitFor(QDir(runtimeDir_).filePath("pipewire-0"))) {
        reason_ = "pipewire did not start (package pipewire-bin)";
        return;
    }
    if (spawn("wireplumber", {}, "wireplumber.log") < 0) {
        reason_ = "wireplumber did not start (package wireplumber)";
        return;
    }
    QThread::msleep(500);  // the session manager sets up its policy
}

PipeWireTestServer::~PipeWireTestServer()
{
    stop();
}

void PipeWireTestServer::stop()
{
    for (auto it = pids_.rbegin(); it != pids_.rend(); ++it) {
        kill(*it, SIGTERM);
        int status = 0;
        waitpid(*it, &status, 0);
    }
    pids_.clear();
    if (!runtimeDir_.isEmpty())
        QDir(runtimeDir_).removeRecursively();
}
