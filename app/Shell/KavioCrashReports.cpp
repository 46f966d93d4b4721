#include "Shell/KavioCrashReports.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <ctime>

namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
const QString kPrefix = QStringLiteral("kavio-crash-");
const QString kSeenSuffix = QStringLiteral(".seen.txt");

// Filled before the handlers are installed; read only inside the handler.
char g_folder[2048];
char g_version[128];
alignas(16) char g_altStack[64 * 1024];

// A fixed-size text built without allocation, for the signal handler.
struct Line {
    char text[2400];
    size_t length = 0;
    void add(const char* s)
    {
        while (*s && length + 1 < sizeof text)
            text[length++] = *s++;
        text[length] = '\0';
    }
    void add(unsigned long long value, int width = 0)
    {
        char digits[24];
        int n = 0;
        do {
            digits[n++] = char('0' + value % 10);
            value /= 10;
        } while (value && n < 24);
        while (n < width && n < 24)
            digits[n++] = '0';
        while (n > 0 && length + 1 < sizeof text)
            text[length++] = digits[--n];
        text[length] = '\0';
    }
};

const char* signalName(int sig)
{
    switch (sig) {
    case SIGSEGV:
        return "SIGSEGV";
    case SIGBUS:
        return "SIGBUS";
    case SIGILL:
        return "SIGILL";
    case SIGFPE:
        return "SIGFPE";
    case SIGABRT:
        return "SIGABRT";
    default:
        return "signal";
    }
}

// "YYYY-MM-DD HH:MM:SS UTC" from seconds since 1970, by arithmetic only.
void addUtcTime(Line& line, long long seconds)
{
    const long long days = seconds / 86400;
    const long long rest = seconds % 86400;
    // Days since 1970-01-01 to a civil date (proleptic Gregorian).
    const long long z = days + 719468;
    const long long era = z / 146097;
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    const long long day = doy - (153 * mp + 2) / 5 + 1;
    const long long month = mp < 10 ? mp + 3 : mp - 9;
    const long long year = yoe + era * 400 + (month <= 2);
    line.add((unsigned long long)year, 4);
    line.add("-");
    line.add((unsigned long long)month, 2);
    line.add("-");
    line.add((unsigned long long)day, 2);
    line.add(" ");
    line.add((unsigned long long)(rest / 3600), 2);
    line.add(":");
    line.add((unsigned long long)(rest / 60 % 60), 2);
    line.add(":");
    line.add((unsigned long long)(rest % 60), 2);
    line.add(" UTC");
}

void writeAll(int fd, const char* text, size_t length)
{
    while (length > 0) {
        const ssize_t written = ::write(fd, text, length);
        if (written <= 0)
            return;
        text += written;
        length -= size_t(written);
    }
}

// Async-signal-safe: fixed buffers, open/write/close, backtrace into the file descriptor.
extern "C" void crashHandler(int sig)
{
    const long long now = (long long)::time(nullptr);
    Line path;
    path.add(g_folder);
    path.add("/kavio-crash-");
    path.add((unsigned long long)now);
    path.add("-");
    path.add((unsigned long long)::getpid());
    path.add(".txt");
    const int fd = ::open(path.text, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) {
        Line head;
        head.add("Kavio crash report\nSignal: ");
        head.add((unsigned long long)sig);
        head.add(" (");
        head.add(signalName(sig));
        head.add(")\nVersion: ");
        head.add(g_version);
        head.add("\nTime: ");
        addUtcTime(head, now);
        head.add("\nProcess: ");
        head.add((unsigned long long)::getpid());
        head.add("\nBacktrace:\n");
        writeAll(fd, head.text, head.length);
        void* frames[64];
        const int count = ::backtrace(frames, 64);
        ::backtrace_symbols_fd(frames, count, fd);
        ::close(fd);
    }
    // The default action now: the process ends as it would have without the handler.
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

QStringList reportsIn(const QString& folder, bool onlyNew)
{
    QDir dir(folder);
    QFileInfoList files = dir.entryInfoList({kPrefix + QStringLiteral("*.txt")}, QDir::Files, QDir::Time | QDir::Reversed);
    QStringList paths;
    for (const QFileInfo& file : files)
        if (!onlyNew || !file.fileName().endsWith(kSeenSuffix))
            paths << file.absoluteFilePath();
    return paths;
}

}  // namespace

namespace KavioCrashReports {

bool installHandlers(const QString& folder, const QString& version)
{
    const QByteArray folderBytes = QFile::encodeName(folder);
    const QByteArray versionBytes = version.toUtf8().left(int(sizeof g_version) - 1);
    if (folderBytes.size() >= qsizetype(sizeof g_folder))
        return false;
    std::memcpy(g_folder, folderBytes.constData(), size_t(folderBytes.size()) + 1);
    std::memcpy(g_version, versionBytes.constData(), size_t(versionBytes.size()));
    g_version[versionBytes.size()] = '\0';
    // The first backtrace loads the unwinder, which allocates: do it now, not in the handler.
    void* frames[4];
    ::backtrace(frames, 4);

    stack_t stack{};
    stack.ss_sp = g_altStack;
    stack.ss_size = sizeof g_altStack;
    ::sigaltstack(&stack, nullptr);
    struct sigaction action{};
    action.sa_handler = crashHandler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_ONSTACK | SA_RESETHAND;
    for (const int sig : kSignals)
        ::sigaction(sig, &action, nullptr);
    return true;
}

QStringList newReports(const QString& folder)
{
    return reportsIn(folder, true);
}

QStringList allReports(const QString& folder)
{
    return reportsIn(folder, false);
}

QString markOffered(const QString& report)
{
    if (report.endsWith(kSeenSuffix))
        return report;
    QString seen = report;
    seen.chop(4);
    seen += kSeenSuffix;
    return QFile::rename(report, seen) ? seen : report;
}

}  // namespace KavioCrashReports
