#pragma once
// A private PipeWire session for the frame-sharing tests: a session D-Bus (`dbus-daemon
// --session`), `pipewire` and `wireplumber`, under a runtime folder of their own, stopped by
// their process ids. shared() starts them once per test program and points this process's
// XDG_RUNTIME_DIR and DBUS_SESSION_BUS_ADDRESS at them, so later suites reuse them; when a
// program is missing or the daemon does not answer, reason() says why and suites skip.

#include <QString>

#include <sys/types.h>

#include <vector>

class PipeWireTestServer {
public:
    // The one session of this test program; started on first use. Main thread.
    static PipeWireTestServer& shared();
    ~PipeWireTestServer();
    PipeWireTestServer(const PipeWireTestServer&) = delete;
    PipeWireTestServer& operator=(const PipeWireTestServer&) = delete;

    bool isRunning() const { return reason_.isEmpty(); }
    const QString& reason() const { return reason_; }
    const QString& runtimeDir() const { return runtimeDir_; }

private:
    PipeWireTestServer();
    pid_t spawn(const QString& program, const std::vector<QByteArray>& arguments, const QString& log);
    void stop();

    std::vector<pid_t> pids_;
    QString runtimeDir_;
    QString reason_;
};
