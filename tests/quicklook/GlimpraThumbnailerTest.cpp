#include "GlimpraPreview.h"
#include "KeyedArchive.h"

#include <gtest/gtest.h>
#include <plist/plist.h>

#include <QBuffer>
#include <QColor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMimeDatabase>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <functional>

namespace {

const QColor kLeft(200, 30, 40);
const QColor kRight(20, 60, 220);

// A snapshot in two halves, left and right, as PNG bytes.
QByteArray twoColourSnapshot(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.fillRect(0, 0, width / 2, height, kLeft);
    painter.fillRect(width / 2, 0, width - width / 2, height, kRight);
    painter.end();
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

// A project file's contents with the top-level entries saving writes, "QLData" as given.
QByteArray projectArchive(const QVariant& quickLook)
{
    QVariantMap root;
    if (quickLook.isValid())
        root.insert(QStringLiteral("QLData"), quickLook);
    root.insert(QStringLiteral("playlistData"), QVariantMap{{QStringLiteral("items"), QVariantList()}});
    root.insert(QStringLiteral("preferences"), QVariantMap{{QStringLiteral("oscEnableButton"), 1}});
    root.insert(QStringLiteral("videoOutputSettings"), QVariantMap());
    root.insert(QStringLiteral("atemIntegrationSettings"), QVariantMap());
    root.insert(QStringLiteral("ndiIntegrationSettings"), QVariantMap());
    return KeyedArchive::archive(root);
}

QByteArray projectWithSnapshot(const QByteArray& png)
{
    return projectArchive(QVariantMap{{QStringLiteral("QLIMAGE"), png}});
}

// A keyed archive whose root dictionary holds an NSDate under "QLData", written with libplist
// (the program's own writer cannot write one).
QByteArray archiveHoldingADate()
{
    const auto uids = [](std::initializer_list<uint64_t> list) {
        plist_t a = plist_new_array();
        for (uint64_t u : list) plist_array_append_item(a, plist_new_uid(u));
        return a;
    };
    const auto classEntry = [](const char* name) {
        plist_t d = plist_new_dict();
        plist_dict_set_item(d, "$classname", plist_new_string(name));
        plist_t classes = plist_new_array();
        plist_array_append_item(classes, plist_new_string(name));
        plist_array_append_item(classes, plist_new_string("NSObject"));
        plist_dict_set_item(d, "$classes", classes);
        return d;
    };
    plist_t objects = plist_new_array();
    plist_array_append_item(objects, plist_new_string("$null"));
    plist_t root = plist_new_dict();  // 1
    plist_dict_set_item(root, "NS.keys", uids({2}));
    plist_dict_set_item(root, "NS.objects", uids({3}));
    plist_dict_set_item(root, "$class", plist_new_uid(5));
    plist_array_append_item(objects, root);
    plist_array_append_item(objects, plist_new_string("QLData"));  // 2
    plist_t date = plist_new_dict();  // 3
    plist_dict_set_item(date, "NS.time", plist_new_real(1.0));
    plist_dict_set_item(date, "$class", plist_new_uid(4));
    plist_array_append_item(objects, date);
    plist_array_append_item(objects, classEntry("NSDate"));        // 4
    plist_array_append_item(objects, classEntry("NSDictionary"));  // 5
    plist_t top = plist_new_dict();
    plist_dict_set_item(top, "$version", plist_new_uint(100000));
    plist_dict_set_item(top, "$archiver", plist_new_string("NSKeyedArchiver"));
    plist_t topDict = plist_new_dict();
    plist_dict_set_item(topDict, "root", plist_new_uid(1));
    plist_dict_set_item(top, "$top", topDict);
    plist_dict_set_item(top, "$objects", objects);
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(top, &bytes, &length);
    QByteArray out(bytes, qsizetype(length));
    plist_to_bin_free(bytes);
    plist_free(top);
    return out;
}

uint32_t crc32(const QByteArray& bytes)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (char c : bytes) {
        crc ^= uint8_t(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void putBigEndian(QByteArray& bytes, int at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = char(value >> (24 - 8 * i));
}

// A real PNG whose header (IHDR, with a matching checksum) claims `width` × `height`; only a
// decoder that trusts the header before looking at the data would try to allocate it.
QByteArray pngClaiming(uint32_t width, uint32_t height)
{
    QByteArray png = twoColourSnapshot(4, 4);
    // Signature (8), IHDR length (4), "IHDR" (4), width, height, 5 more bytes, CRC.
    putBigEndian(png, 16, width);
    putBigEndian(png, 20, height);
    putBigEndian(png, 29, crc32(png.mid(12, 17)));
    return png;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

struct ThumbnailerRun {
    bool finished = false;
    int exitCode = -1;
    QString standardError;
};

// Runs the built thumbnailer as a file manager does, allowing it far more than its own watchdog.
ThumbnailerRun runThumbnailer(const QStringList& arguments, const QProcessEnvironment& environment = {})
{
    QProcess process;
    if (!environment.isEmpty())
        process.setProcessEnvironment(environment);
    process.start(QStringLiteral(GLIMPRA_THUMBNAILER), arguments);
    ThumbnailerRun run;
    run.finished = process.waitForStarted(30000) && process.waitForFinished(60000);
    if (!run.finished) {
        process.kill();
        process.waitForFinished(5000);
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.standardError = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

TEST(GlimpraPreview, ExtractsTheStoredSnapshotAndRefusesEverythingElse)
{
    const QByteArray png = twoColourSnapshot(8, 4);
    EXPECT_EQ(GlimpraPreview::extractPreviewPng(projectWithSnapshot(png)), png);

    const struct {
        const char* name;
        QByteArray bytes;
    } bad[] = {
        {"older project without QLData", projectArchive(QVariant())},
        {"empty QLData", projectArchive(QVariantMap())},
        {"QLData not a dictionary", projectArchive(QVariantList{png})},
        {"QLIMAGE a string", projectArchive(QVariantMap{{QStringLiteral("QLIMAGE"), QStringLiteral("png")}})},
        {"root an array", KeyedArchive::archive(QVariantList{QVariantMap{{QStringLiteral("QLData"), QVariantMap()}}})},
        {"archive holding an NSDate", archiveHoldingADate()},
        {"not an archive", QByteArray("\x89PNG\r\n\x1a\n", 8)},
        {"empty", QByteArray()},
    };
    for (const auto& c : bad) {
        QString error;
        EXPECT_FALSE(GlimpraPreview::extractPreviewPng(c.bytes, &error)) << c.name;
        EXPECT_FALSE(error.isEmpty()) << c.name;
    }
}

TEST(GlimpraPreview, RefusesImagesFromTheirHeaderBeforeDecoding)
{
    EXPECT_EQ(GlimpraPreview::decodePreview(pngClaiming(5, 3)).size(), QSize(5, 3)) << "the fixture stays a PNG";
    const struct {
        const char* name;
        QByteArray bytes;
    } bad[] = {
        {"100000 x 100000", pngClaiming(100000, 100000)},
        {"wider than the side limit", pngClaiming(GlimpraPreview::kMaxImageSide + 1, 1)},
        {"inside the sides, over the memory limit", pngClaiming(16000, 16000)},
        {"no image", QByteArray("not an image at all")},
        {"a PNG cut short", twoColourSnapshot(64, 64).left(60)},
    };
    for (const auto& c : bad) {
        QString error;
        EXPECT_TRUE(GlimpraPreview::decodePreview(c.bytes, &error).isNull()) << c.name;
        EXPECT_FALSE(error.isEmpty()) << c.name;
    }
}

TEST(GlimpraPreview, FitsThumbnailsWithoutEnlarging)
{
    const struct {
        QSize image;
        int size;
        QSize expected;
    } cases[] = {
        {{400, 200}, 256, {256, 128}}, {{200, 400}, 256, {128, 256}}, {{100, 50}, 256, {100, 50}},
        {{400, 200}, 0, {400, 200}},   {{5000, 2}, 128, {128, 1}},
    };
    for (const auto& c : cases) {
        QImage image(c.image, QImage::Format_RGB32);
        image.fill(Qt::black);
        EXPECT_EQ(GlimpraPreview::fitThumbnail(image, c.size).size(), c.expected) << c.image.width() << "x" << c.image.height() << " at " << c.size;
    }
}

class GlimpraThumbnailer : public ::testing::Test {
protected:
    QString inDir(const QString& name) const { return dir.filePath(name); }
    // The output folder holds nothing: no thumbnail and no temporary file left behind.
    QStringList outputs() const { return QDir(outputDir.path()).entryList(QDir::Files | QDir::NoDotAndDotDot | QDir::Hidden); }

    QTemporaryDir dir;
    QTemporaryDir outputDir;
};

TEST_F(GlimpraThumbnailer, WritesTheSnapshotAtItsSizeOrFittedToTheRequest)
{
    ASSERT_TRUE(writeFile(inDir("show.kavio2"), projectWithSnapshot(twoColourSnapshot(400, 300))));
    ASSERT_TRUE(writeFile(inDir("small.kavio"), projectWithSnapshot(twoColourSnapshot(100, 40))));
    const struct {
        const char* input;
        QStringList size;
        QSize expected;
    } cases[] = {
        {"show.kavio2", {}, {400, 300}},
        {"show.kavio2", {"-s", "256"}, {256, 192}},
        {"small.kavio", {"-s", "256"}, {100, 40}},
    };
    for (const auto& c : cases) {
        const QString output = outputDir.filePath(QStringLiteral("thumbnail.png"));
        QFile::remove(output);
        const ThumbnailerRun run = runThumbnailer(c.size + QStringList{inDir(c.input), output});
        ASSERT_TRUE(run.finished) << c.input;
        EXPECT_EQ(run.exitCode, 0) << c.input << ": " << run.standardError.toStdString();
        QImage image;
        ASSERT_TRUE(image.load(output, "PNG")) << c.input;
        EXPECT_EQ(image.size(), c.expected) << c.input;
        const int y = image.height() / 2;
        EXPECT_EQ(image.pixelColor(image.width() / 4, y), kLeft) << c.input;
        EXPECT_EQ(image.pixelColor(image.width() * 3 / 4, y), kRight) << c.input;
        EXPECT_EQ(outputs(), QStringList{QStringLiteral("thumbnail.png")}) << c.input;
    }
}

TEST_F(GlimpraThumbnailer, BadInputsEndWithAnErrorAndNoFile)
{
    const QByteArray good = projectWithSnapshot(twoColourSnapshot(64, 48));
    QRandomGenerator random(47);
    QByteArray noise(4096, '\0');
    random.fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);

    const struct {
        const char* name;
        std::function<QString()> make;  // the input path
        QString output;                 // empty: a file in the output folder
    } cases[] = {
        {"older project without QLData", [&] { writeFile(inDir("a"), projectArchive(QVariant())); return inDir("a"); }, {}},
        {"empty QLData", [&] { writeFile(inDir("b"), projectArchive(QVariantMap())); return inDir("b"); }, {}},
        {"QLIMAGE no image", [&] { writeFile(inDir("c"), projectWithSnapshot("plain text")); return inDir("c"); }, {}},
        {"QLIMAGE a PNG cut short", [&] { writeFile(inDir("c2"), projectWithSnapshot(twoColourSnapshot(64, 64).left(60))); return inDir("c2"); }, {}},
        {"PNG claiming 100000 x 100000", [&] { writeFile(inDir("d"), projectWithSnapshot(pngClaiming(100000, 100000))); return inDir("d"); }, {}},
        {"archive holding an NSDate", [&] { writeFile(inDir("e"), archiveHoldingADate()); return inDir("e"); }, {}},
        {"cut after 10 bytes", [&] { writeFile(inDir("f"), good.left(10)); return inDir("f"); }, {}},
        {"cut in half", [&] { writeFile(inDir("g"), good.left(good.size() / 2)); return inDir("g"); }, {}},
        {"cut by one byte", [&] { writeFile(inDir("h"), good.chopped(1)); return inDir("h"); }, {}},
        {"random bytes", [&] { writeFile(inDir("i"), noise); return inDir("i"); }, {}},
        {"empty file", [&] { writeFile(inDir("j"), QByteArray()); return inDir("j"); }, {}},
        {"missing file", [&] { return inDir("none"); }, {}},
        {"folder", [&] { QDir(dir.path()).mkdir("k.kavio2"); return inDir("k.kavio2"); }, {}},
        {"FIFO nobody writes to", [&] { ::mkfifo(qPrintable(inDir("l.kavio2")), 0600); return inDir("l.kavio2"); }, {}},
        {"file over 256 MiB (sparse)",
         [&] {
             QFile file(inDir("m"));
             file.open(QIODevice::WriteOnly);
             file.resize(GlimpraPreview::kMaxFileBytes + 1);
             return inDir("m");
         },
         {}},
        {"output folder missing", [&] { writeFile(inDir("n"), good); return inDir("n"); }, outputDir.filePath("gone/t.png")},
    };
    for (const auto& c : cases) {
        const QString input = c.make();
        const QString output = c.output.isEmpty() ? outputDir.filePath(QStringLiteral("t.png")) : c.output;
        const ThumbnailerRun run = runThumbnailer({QStringLiteral("-s"), QStringLiteral("128"), input, output});
        ASSERT_TRUE(run.finished) << c.name;
        EXPECT_NE(run.exitCode, 0) << c.name;
        EXPECT_EQ(run.standardError.count(QLatin1Char('\n')), 1) << c.name << ": " << run.standardError.toStdString();
        EXPECT_TRUE(outputs().isEmpty()) << c.name << ": " << outputs().join(' ').toStdString();
    }
}

TEST_F(GlimpraThumbnailer, RefusesABadCommandLine)
{
    ASSERT_TRUE(writeFile(inDir("show.kavio2"), projectWithSnapshot(twoColourSnapshot(40, 30))));
    const QString output = outputDir.filePath(QStringLiteral("t.png"));
    for (const QStringList& arguments : {QStringList{inDir("show.kavio2")}, QStringList{"-s", "0", inDir("show.kavio2"), output},
                                         QStringList{"-s", "big", inDir("show.kavio2"), output}, QStringList{"-s"}}) {
        const ThumbnailerRun run = runThumbnailer(arguments);
        ASSERT_TRUE(run.finished);
        EXPECT_NE(run.exitCode, 0) << arguments.join(' ').toStdString();
        EXPECT_TRUE(outputs().isEmpty());
    }
}

// The entries of the [Thumbnailer Entry] group of a .thumbnailer (desktop-entry syntax).
QMap<QString, QString> thumbnailerEntry(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QMap<QString, QString> entry;
    QString group;
    for (const QByteArray& raw : file.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            group = line.mid(1, line.size() - 2);
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (group == QLatin1String("Thumbnailer Entry") && equals > 0)
            entry.insert(line.left(equals).trimmed(), line.mid(equals + 1).trimmed());
    }
    return entry;
}

TEST(GlimpraFiles, ThumbnailerEntryRunsTheProgramForTheInstalledProjectType)
{
    const QMap<QString, QString> entry = thumbnailerEntry(QStringLiteral(GLIMPRA_THUMBNAILER_FILE));
    EXPECT_EQ(entry.value("TryExec"), QStringLiteral("glimpra-thumbnailer"));
    EXPECT_EQ(entry.value("Exec"), QStringLiteral("glimpra-thumbnailer -s %s %i %o"));
    const QStringList types = entry.value("MimeType").split(QLatin1Char(';'), Qt::SkipEmptyParts);
    ASSERT_EQ(types.size(), 1);

    // The MIME package installed beside the program, compiled into a database of its own, must
    // give both project file names the type the thumbnailer is registered for.
    if (QStandardPaths::findExecutable(QStringLiteral("update-mime-database")).isEmpty())
        GTEST_SKIP() << "update-mime-database is not installed (package shared-mime-info)";
    QTemporaryDir data;
    ASSERT_TRUE(QDir(data.path()).mkpath("mime/packages"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(KAVIO_MIME_PACKAGE), data.filePath("mime/packages/kavio-project.xml")));
    QProcess update;
    update.start(QStringLiteral("update-mime-database"), {data.filePath("mime")});
    ASSERT_TRUE(update.waitForFinished(60000));
    ASSERT_EQ(update.exitCode(), 0) << update.readAllStandardError().toStdString();

    // QMimeDatabase reads the data folders once per process: ask a child of our own.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_DATA_DIRS"), data.path());
    environment.insert(QStringLiteral("XDG_DATA_HOME"), data.filePath("home"));
    QProcess probe;
    probe.setProcessEnvironment(environment);
    probe.start(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath(), {QStringLiteral("--mime-type-of"), QStringLiteral("show.kavio2"), QStringLiteral("old.kavio")});
    ASSERT_TRUE(probe.waitForFinished(60000));
    EXPECT_EQ(QString::fromUtf8(probe.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts), QStringList({types[0], types[0]}));
}

} // namespace

int main(int argc, char** argv)
{
    // The child of the MIME test: one type name a line for the file names given.
    if (argc > 1 && std::strcmp(argv[1], "--mime-type-of") == 0) {
        const QMimeDatabase database;
        for (int i = 2; i < argc; ++i)
            std::printf("%s\n", qPrintable(database.mimeTypeForFile(QString::fromLocal8Bit(argv[i]), QMimeDatabase::MatchExtension).name()));
        return 0;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
