#pragma once
// Crash reports: when the program dies of SIGSEGV, SIGBUS, SIGILL, SIGFPE or SIGABRT, a handler
// writes a report (signal, version, time, backtrace) into the log folder and lets the process
// die as it would have. The next start offers each new report once.
//
// A report is "kavio-crash-<seconds since 1970>-<pid>.txt"; once offered it is renamed
// "….seen.txt" and kept for the log bundle.

#include <QString>
#include <QStringList>

namespace KavioCrashReports {

// Installs the handlers (on an alternate stack, so a stack overflow is reported too). Later
// calls replace the folder and version. False when the folder name is too long to keep.
// Main thread, before other threads matter.
bool installHandlers(const QString& folder, const QString& version);

// Reports not yet offered, oldest first.
QStringList newReports(const QString& folder);
// Every report, oldest first.
QStringList allReports(const QString& folder);
// Marks a report as offered; answers its new path (the old one when it cannot be renamed).
QString markOffered(const QString& report);

}  // namespace KavioCrashReports
