// Another program on the same display, as a reader or a writer outside the program.
//   kavio_clipboard_peer TYPE
//     writes the bytes the clipboard holds under TYPE to standard output (nothing when the type
//     is missing);
//   kavio_clipboard_peer --put TYPE FILE
//     puts FILE's bytes on the clipboard under TYPE, prints "ready" and serves them until
//     another program takes the clipboard, its standard input closes or a minute passes.

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QMimeData>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

namespace {

int put(QGuiApplication& app, const QString& type, const QString& path)
{
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly))
        return 3;
    auto* data = new QMimeData;
    data->setData(type, in.readAll());
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setMimeData(data);
    QObject::connect(clipboard, &QClipboard::dataChanged, &app, [clipboard, &app] {
        if (!clipboard->ownsClipboard())
            app.quit();
    });
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&app] {
        char byte;
        if (::read(STDIN_FILENO, &byte, 1) <= 0)
            app.quit();
    });
    QTimer::singleShot(60000, &app, &QGuiApplication::quit);
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}

}  // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc == 4 && QString::fromUtf8(argv[1]) == QStringLiteral("--put"))
        return put(app, QString::fromUtf8(argv[2]), QString::fromLocal8Bit(argv[3]));
    if (argc < 2)
        return 2;
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    const QString type = QString::fromUtf8(argv[1]);
    if (!data || !data->hasFormat(type))
        return 1;
    QFile out;
    if (!out.open(stdout, QIODevice::WriteOnly))
        return 3;
    out.write(data->data(type));
    return 0;
}
