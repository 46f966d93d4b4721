// glimpra-thumbnailer [-s SIZE] INPUT OUTPUT
//
// The freedesktop thumbnailer of project files (glimpra.thumbnailer): writes the snapshot a
// project file stores as a PNG at OUTPUT, scaled down to fit SIZE × SIZE with -s, else at its
// own size. Exit 0 only when OUTPUT was written; any failure leaves no file and says why in one
// line on standard error. Needs no display.

#include "GlimpraPreview.h"

#include <QByteArray>
#include <QFile>
#include <QImage>

#include <csignal>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// A file manager waits on its thumbnailers; whatever goes wrong, this one ends in bounded time.
constexpr unsigned kWatchdogSeconds = 10;

// The temporary file being written, for the watchdog to remove (a fixed buffer: the signal
// handler may touch nothing else).
char g_temporaryPath[4096];
// Standard error as the caller gave it; the libraries' own stderr goes to /dev/null.
int g_errorFd = STDERR_FILENO;

extern "C" void onWatchdog(int)
{
    if (g_temporaryPath[0])
        ::unlink(g_temporaryPath);
    static const char message[] = "glimpra-thumbnailer: timed out\n";
    [[maybe_unused]] const ssize_t ignored = ::write(g_errorFd, message, sizeof message - 1);
    ::_exit(3);
}

int failWith(const QString& reason, int status = 1)
{
    const QByteArray line = "glimpra-thumbnailer: " + reason.toLocal8Bit().replace('\n', ' ') + '\n';
    [[maybe_unused]] const ssize_t ignored = ::write(g_errorFd, line.constData(), size_t(line.size()));
    return status;
}

// The decoders' warnings (libpng prints some itself) would break the one line a failure leaves.
void silenceLibraries()
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    const int saved = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved < 0 || null < 0 || ::dup2(null, STDERR_FILENO) < 0)
        return;
    g_errorFd = saved;
    ::close(null);
}

// Writes `image` as a PNG to a temporary file beside `output` and renames it over `output`.
bool writePng(const QImage& image, const QString& output, QString* error)
{
    const QByteArray target = QFile::encodeName(output);
    const QByteArray pattern = target + ".XXXXXX";
    if (size_t(pattern.size()) >= sizeof g_temporaryPath) {
        *error = QStringLiteral("the output path is too long");
        return false;
    }
    // mkstemp() fills in the name where the watchdog finds it.
    std::memcpy(g_temporaryPath, pattern.constData(), size_t(pattern.size()) + 1);
    const int fd = ::mkstemp(g_temporaryPath);
    if (fd < 0) {
        *error = QStringLiteral("cannot write beside %1: %2").arg(output, QString::fromLocal8Bit(std::strerror(errno)));
        g_temporaryPath[0] = '\0';
        return false;
    }
    QFile file;
    bool written = file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle) && image.save(&file, "PNG") && file.flush();
    if (!written)
        *error = QStringLiteral("cannot write %1: %2").arg(output, file.errorString());
    file.close();
    if (written && ::rename(g_temporaryPath, target.constData()) != 0) {
        *error = QStringLiteral("cannot write %1: %2").arg(output, QString::fromLocal8Bit(std::strerror(errno)));
        written = false;
    }
    if (!written)
        ::unlink(g_temporaryPath);
    g_temporaryPath[0] = '\0';
    return written;
}

} // namespace

int main(int argc, char** argv)
{
    std::signal(SIGALRM, onWatchdog);
    ::alarm(kWatchdogSeconds);
    silenceLibraries();

    int size = 0;
    int next = 1;
    if (next < argc && std::strcmp(argv[next], "-s") == 0) {
        bool ok = false;
        size = next + 1 < argc ? QByteArray(argv[next + 1]).toInt(&ok) : 0;
        if (!ok || size <= 0)
            return failWith(QStringLiteral("-s needs a size in pixels above 0"));
        next += 2;
    }
    if (argc - next != 2)
        return failWith(QStringLiteral("usage: glimpra-thumbnailer [-s SIZE] INPUT OUTPUT"), 2);
    const QString input = QFile::decodeName(argv[next]);
    const QString output = QFile::decodeName(argv[next + 1]);

    QString error;
    const std::optional<QByteArray> contents = GlimpraPreview::readProjectFile(input, &error);
    if (!contents)
        return failWith(QStringLiteral("%1: %2").arg(input, error));
    const std::optional<QByteArray> png = GlimpraPreview::extractPreviewPng(*contents, &error);
    if (!png)
        return failWith(QStringLiteral("%1: %2").arg(input, error));
    const QImage image = GlimpraPreview::decodePreview(*png, &error);
    if (image.isNull())
        return failWith(QStringLiteral("%1: %2").arg(input, error));
    if (!writePng(GlimpraPreview::fitThumbnail(image, size), output, &error))
        return failWith(error);
    return 0;
}
