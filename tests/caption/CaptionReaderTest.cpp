#include "CaptionFixtures.h"
#include "Caption/QVTCaptionReader.h"
#include "Caption/QVTCaptionReaderSCC.h"
#include "Caption/QVTCaptionReaderSRT.h"

#include <gtest/gtest.h>

namespace {

MediaTime ms(std::int64_t v) { return MediaTime::make(v, 1000); }

QString plain(const QVTCaptionPtr& caption)
{
    QStringList lines;
    for (const auto& line : caption->lines) {
        lines << line.text.string();
    }
    return lines.join('|');
}

}  // namespace

TEST(CaptionTracks, SidecarsAreFoundNamedAndSorted)
{
    CaptionFolder folder;
    for (const char* name : {"clip.mov", "clip.srt", "clip.en.srt", "clip.SRT", "other.srt", "clipX.scc", "clip.txt"}) {
        folder.write(name, "x");
    }
    const auto tracks = QVTCaptionReader::captionTracksForFile(folder.url("clip.mov"));
    ASSERT_TRUE(tracks);
    EXPECT_EQ(*tracks, (QStringList{".en.srt", ".srt", "X.scc"}));
    EXPECT_FALSE(QVTCaptionReader::captionTracksForFile(QUrl("http://example.invalid/clip.mov")));
    EXPECT_EQ(QVTCaptionReader::captionURLForMovieFile(folder.url("clip.mov"), ".en.srt"), folder.url("clip.en.srt"));
    EXPECT_EQ(QVTCaptionReader::captionURLForMovieFile(folder.url("clip.mov"), ":embedded:English"),
              folder.url("clip.mov"));
    EXPECT_EQ(QVTCaptionReader::sidecarCaptionURLsForFile(folder.url("clip.mov")).size(), 3);
}

TEST(CaptionTracks, DisplayNames)
{
    const std::pair<const char*, const char*> cases[] = {
        {".srt", "Sidecar - SRT Subtitle File"},
        {".en.srt", "Sidecar - SRT Subtitle File"},
        {"_english.srt", "Sidecar - english"},
        {".scc", "Sidecar - SCC Subtitle File"},
        {"_fr.scc", "Sidecar - fr"},
        {":embedded:English", "Embedded - English"},
        {":embedded:English_CC", "Embedded - English CC"},
    };
    for (const auto& [track, name] : cases) {
        EXPECT_EQ(QVTCaptionReader::displayNameForCaptionTrack(track), name) << track;
    }
}

TEST(CaptionReaderFactory, ChoosesByExtensionAndRefusesUnknownOrUnreadable)
{
    CaptionFolder folder;
    folder.write("clip.srt", "1\n00:00:01,000 --> 00:00:02,000\nHi\n");
    EXPECT_TRUE(dynamic_cast<QVTCaptionReaderSRT*>(
        QVTCaptionReader::readerWithMovieFile(folder.url("clip.mov"), ".srt", 20).get()));
    EXPECT_EQ(QVTCaptionReader::readerWithMovieFile(folder.url("clip.mov"), ".txt", 20), nullptr);
    EXPECT_EQ(QVTCaptionReader::readerWithMovieFile(folder.url("clip.mov"), ".missing.srt", 20), nullptr);
    EXPECT_EQ(QVTCaptionReader::readerWithMovieFile(folder.url("clip.mov"), ".missing.scc", 20), nullptr);
}

TEST(SrtReader, ReadsEntriesInFileOrderWithTagsColoursAndCarriedStyle)
{
    CaptionFolder folder;
    folder.write("clip.srt",
                 "\n"
                 "1\n"
                 "00:00:05,000 --> 00:00:06,500\n"
                 "<font color=\"#FF8000\">Orange</font> plain\n"
                 "<b>bold <B>caps</B>\n"
                 "\n"
                 "2\n"
                 "garbage timing\n"
                 "00:00:01,000 --> 00:00:02,000\n"
                 "<u>under</u> <i>it</i> <x>\n"
                 "\n"
                 "3\n"
                 "00:00:03,000 --> 00:00:04,000\n"
                 "\n"
                 "4\n"
                 "00:00:10,000 --> 00:00:12,000\n"
                 "last line without closing blank");
    QVTCaptionReaderSRT reader;
    ASSERT_TRUE(reader.initWithMovieFile(folder.url("clip.mov"), ".srt", 20));
    ASSERT_EQ(reader.captions().size(), 3u);  // entry 3 has no text
    const auto& first = reader.captions()[0];
    EXPECT_EQ(plain(first), "Orange plain|bold <B>caps</B>");
    EXPECT_EQ(first->alignment, 2);
    EXPECT_TRUE(first->drawBackgroundRectangle);
    EXPECT_EQ(first->startTime, ms(5000));
    EXPECT_EQ(first->endTime, ms(6500));
    const auto orange = first->lines[0].text.attributesAt(0);
    EXPECT_EQ(*orange.foreground, (KavioColor{1.0, 128 / 255.0, 0.0, 1.0}));
    EXPECT_EQ(*first->lines[0].text.attributesAt(7).foreground, (KavioColor{1, 1, 1, 1}));
    EXPECT_TRUE(first->lines[1].text.attributesAt(0).font->bold());

    const auto& second = reader.captions()[1];
    EXPECT_EQ(plain(second), "under it <x>");
    EXPECT_EQ(second->startTime, ms(1000));
    EXPECT_TRUE(second->lines[0].text.attributesAt(0).font->bold());  // <b> never closed
    EXPECT_EQ(second->lines[0].text.attributesAt(0).underlineStyle, 1);
    EXPECT_FALSE(second->lines[0].text.attributesAt(5).underlineStyle);
    EXPECT_TRUE(second->lines[0].text.attributesAt(6).font->italic());

    EXPECT_EQ(plain(reader.captions()[2]), "last line without closing blank");

    // Lookup: unordered entries are searched in file order, ends inclusive.
    EXPECT_EQ(reader.captionForTime(ms(1000)), second);
    EXPECT_EQ(reader.captionForTime(ms(6500)), first);
    EXPECT_EQ(reader.captionForTime(ms(6501)), nullptr);
    EXPECT_EQ(reader.captionStartTime(), ms(5000));
}

TEST(SrtReader, EncodingsAreDetected)
{
    const QString text = QString::fromUtf8("1\n00:00:01,000 --> 00:00:02,000\nCafé déjà\n");
    const struct {
        const char* name;
        QByteArray bytes;
    } cases[] = {
        {"utf8", text.toUtf8()},
        {"utf8 bom", QByteArray("\xEF\xBB\xBF") + text.toUtf8()},
        {"utf16le bom",
         QByteArray("\xFF\xFE") + QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2)},
        {"latin1", text.toLatin1()},
    };
    for (const auto& c : cases) {
        CaptionFolder folder;
        folder.write("clip.srt", c.bytes);
        QVTCaptionReaderSRT reader;
        ASSERT_TRUE(reader.initWithMovieFile(folder.url("clip.mov"), ".srt", 10)) << c.name;
        ASSERT_EQ(reader.captions().size(), 1u) << c.name;
        EXPECT_EQ(plain(reader.captions()[0]), QString::fromUtf8("Café déjà")) << c.name;
    }
}

TEST(SrtReader, TitleLineInsteadOfNumberRefusesTheFile)
{
    CaptionFolder folder;
    folder.write("clip.srt", "My Film\n1\n00:00:01,000 --> 00:00:02,000\nHi\n");
    QVTCaptionReaderSRT reader;
    EXPECT_FALSE(reader.initWithMovieFile(folder.url("clip.mov"), ".srt", 20));
    EXPECT_EQ(reader.captionStartTime(), MediaTime::zero());
}

TEST(SccReader, TimeCodesAndPopOnAndRollUpCaptions)
{
    CaptionFolder folder;
    folder.write("clip.scc",
                 "Scenarist_SCC V1.0\n"
                 "\n"
                 // pop-on: RCL, ENM, PAC row 15, "HELLO", EOC
                 "00:00:01;15\t9420 94ae 9470 c845 4c4c 4f80 942f\n"
                 "\n"
                 "not a time code line\n"
                 // erase displayed memory
                 "00:00:03:00\t942c\n"
                 // roll-up 2 rows: RU2, PAC row 15, "AB", CR, "CD"
                 "00:00:05:00\t9425 9470 4142 94ad 4344\n");
    QVTCaptionReaderSCC reader;
    ASSERT_TRUE(reader.initWithMovieFile(folder.url("clip.mov"), ".scc", 20));
    const auto& captions = reader.captions();
    ASSERT_GE(captions.size(), 3u);
    // The EOC is the 7th pair after 00:00:01;15 (= 45015/30000 s).
    EXPECT_EQ(captions[0]->startTime, MediaTime::make(45015 + 7 * 1001, 30000));
    EXPECT_EQ(plain(captions[0]), " HELLO ");
    EXPECT_EQ(captions[0]->endTime, MediaTime::make(3 * 30000 + 1001, 30000));
    EXPECT_EQ(captions[0]->alignment, 0);
    EXPECT_FALSE(captions[0]->drawBackgroundRectangle);
    // Roll-up: each printable pair emits a caption; after CR the old row moved up.
    EXPECT_EQ(plain(captions[1]), " AB ");
    EXPECT_EQ(plain(captions.back()), " AB | CD ");
    // The stream ends with the roll-up text on show: it is kept, for 16 s.
    EXPECT_EQ(captions.back()->endTime, captions.back()->startTime + MediaTime::make(16, 1));
}

TEST(SccReader, HeaderIsRequired)
{
    for (const QByteArray& bytes : {QByteArray(), QByteArray("\nScenarist_SCC V1.0\n"), QByteArray("Scenarist_SCC V2.0\n")}) {
        CaptionFolder folder;
        folder.write("clip.scc", bytes);
        QVTCaptionReaderSCC reader;
        EXPECT_FALSE(reader.initWithMovieFile(folder.url("clip.mov"), ".scc", 20)) << bytes.toStdString();
    }
}

TEST(CaptionReaders, TimeCodesTooLargeForTheArithmeticAreNotTimeCodes)
{
    QVTCaptionReaderSRT srt;
    ASSERT_TRUE(srt.readText("1\n3000000000000:00:00,000 --> 00:00:01,000\n00:00:01,000 --> 00:00:02,000\nx\n"));
    ASSERT_EQ(srt.captions().size(), 1u);  // the next line was taken as the timing line
    EXPECT_EQ(srt.captions()[0]->startTime, ms(1000));

    QVTCaptionReaderSCC scc;
    ASSERT_TRUE(scc.readText("Scenarist_SCC V1.0\n100000000000:00:00:00\t9420 9470 c1c2 942f\n"
                             "00:00:00:00:9223372036854775807\t9420\n"));
    EXPECT_TRUE(scc.captions().empty());
}
