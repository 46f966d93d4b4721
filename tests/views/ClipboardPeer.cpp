// Another program on the same display: writes the bytes the clipboard holds under the type given
// as its argument to standard output (nothing when the type is missing), as a reader outside the
// program gets them.

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QMimeData>

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
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
