// Writes the seed corpus of every fuzz target from the project's own writers: records saved by
// cues and written by KeyedArchive, OSC messages serialised by liblo as the kit sends them, the
// Art-Net and MIDI messages the frameworks send, and Hap frames laid out as the format says.
// Hand-laid bytes stand in only where the program has no writer of its own (received-only
// packets and Hap frames, which come from other programs).
//
// Usage: fuzz_seed_writer <directory>; makes <directory>/<target>/ for each target.

#include "ArtNetPacket.h"
#include "CueTestSupport.h"
#include "KeyedArchive.h"
#include "Log.h"
#include "MIDIMessageCodec.h"
#include "MediaAsset.h"
#include "MediaTime.h"
#include "NdiLoopbackCodec.h"
#include "SwitcherProtocol.h"

#include <lo/lo.h>
#include <snappy.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

class SeedDirectory {
public:
    SeedDirectory(const QString& root, const char* target) : dir_(QDir(root).filePath(QString::fromLatin1(target)))
    {
        if (!QDir().mkpath(dir_))
            std::fprintf(stderr, "cannot make %s\n", qPrintable(dir_));
    }

    void write(const char* name, const QByteArray& bytes) const
    {
        QFile file(QDir(dir_).filePath(QString::fromLatin1(name)));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
    }
    void write(const char* name, const Bytes& bytes) const
    {
        write(name, QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size())));
    }

private:
    QString dir_;
};

// A cue of `type` with a good part of its record away from the defaults, as saved.
QVariantMap cueRecord(int type, const QString& path)
{
    const RecordFixture fixture;
    const auto cue = fixture.makeCue(type, path);
    cue->setUid(QStringLiteral("uid-%1").arg(type));
    cue->setIndex(std::uint64_t(type) + 1);
    cue->setDisplayTitle(QStringLiteral("Opening"));
    cue->setHasCustomTitle(true);
    cue->setCueID(QStringLiteral("A1"));
    cue->setCueNotes(QStringLiteral("notes"));
    cue->setGotoItemUID(QStringLiteral("uid-0"));
    cue->setLoopCount(3);
    cue->setVolume(0.5f);
    cue->setOpacity(0.75f);
    cue->setFadetime(0.5f);
    cue->setIsUsingDefaultFadeDuration(false);
    cue->setInTime(MediaTime::make(300, 600));
    cue->setOutTime(MediaTime::make(150, 600));
    cue->setGeometryScaleMode(3);
    cue->setGeometryCrop({0.25f, 0.5f, 0.125f, 0.75f});
    cue->setColorTag(30);
    cue->setIsUsingDefaultAudioChannels(false);
    if (auto player = std::dynamic_pointer_cast<FakeAudioPlayer>(cue->audioPlayer())) {
        player->mapping = {2, 1, 0, 1};
        player->channels = 4;
    }
    if (auto source = std::dynamic_pointer_cast<FakeRecordedSource>(cue->browserSource()))
        source->data = {{QStringLiteral("KavioBrowserSource_CustomCSS"), QStringLiteral("body {}")}};
    return cue->saveData();
}

void writeArchives(const QString& root)
{
    const struct {
        const char* name;
        int type;
        const char* path;
    } cues[] = {
        {"movie", KavioMediaTypeMovie, "/media/show/opening.mov"},
        {"audio", KavioMediaTypeAudio, "/media/show/theme.wav"},
        {"pdf-still", KavioMediaTypeStill, "/media/show/slides.pdf"},
        {"browser", KavioMediaTypeBrowser, "https://example.org/"},
        {"camera", KavioMediaTypeCamera, "Camera 1"},
    };
    const SeedDirectory records(root, "cue_record_fuzzer");
    const SeedDirectory archives(root, "keyed_archive_fuzzer");
    QVariantMap playlist;
    for (const auto& c : cues) {
        const QVariantMap record = cueRecord(c.type, QString::fromLatin1(c.path));
        records.write(c.name, KeyedArchive::archive(record));
        playlist.insert(QString::number(playlist.size() + 1), record);
    }
    records.write("path-only", KeyedArchive::archive(QVariantMap{{"mediaPath", "/media/show/b.mov"}}));
    archives.write("project", KeyedArchive::archive(QVariantMap{{"playlistData", playlist},
                                                                 {"QLData", QByteArray("\x89PNG\r\n", 6)},
                                                                 {"framerate", qint32(25)}}));
    // Projects as the program saves them: the playlist, an empty one, an entry that is no record.
    const SeedDirectory projects(root, "project_file_fuzzer");
    projects.write("project", KeyedArchive::archive(QVariantMap{{"playlistData", playlist}, {"preferences", QVariantMap()}}));
    projects.write("empty", KeyedArchive::archive(QVariantMap{{"playlistData", QVariantMap()}}));
    projects.write("odd-entries", KeyedArchive::archive(QVariantMap{
                                      {"playlistData", QVariantMap{{"1", QVariantMap{{"mediaPath", "/media/show/slides.pdf"}}},
                                                                   {"2", QStringLiteral("not a record")},
                                                                   {"x", QVariantMap{{"mediaPath", "/media/show/b.mov"}}}}}}));
    // The thumbnailer's: a saved project with its snapshot, cut short, and one whose snapshot is
    // no image.
    QImage snapshot(24, 16, QImage::Format_RGB32);
    snapshot.fill(Qt::darkCyan);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    snapshot.save(&buffer, "PNG");
    const QByteArray saved = KeyedArchive::archive(QVariantMap{{"QLData", QVariantMap{{"QLIMAGE", png}}},
                                                               {"playlistData", playlist},
                                                               {"preferences", QVariantMap()}});
    const SeedDirectory previews(root, "glimpra_preview_fuzzer");
    previews.write("project", saved);
    previews.write("truncated", saved.left(saved.size() * 2 / 3));
    previews.write("not-an-image", KeyedArchive::archive(QVariantMap{{"QLData", QVariantMap{{"QLIMAGE", QByteArray("GIF89a")}}}}));
    archives.write("clipboard", KeyedArchive::archive(QVariantList{playlist.value("1"), playlist.value("2")}));
    archives.write("number-kinds", KeyedArchive::archive(QVariantList{true, qint32(-1), quint64(1) << 63, 0.5f, 0.5,
                                                                      QStringLiteral("\u00e9t\u00e9"), QByteArray(3, '\0')}));
}

void writeOSC(const QString& root)
{
    const SeedDirectory seeds(root, "osc_datagram_fuzzer");
    const auto serialise = [](lo_message m, const char* path) {
        QByteArray out(qsizetype(lo_message_length(m, path)), '\0');
        std::size_t size = std::size_t(out.size());
        lo_message_serialise(m, path, out.data(), &size);
        return out;
    };
    lo_message go = lo_message_new();
    lo_message_add_int32(go, 1);
    seeds.write("go", serialise(go, "/kavio/go"));
    lo_message every = lo_message_new();
    lo_message_add_float(every, 0.5f);
    lo_message_add_string(every, "Opening");
    lo_message_add_int64(every, -5);
    lo_message_add_double(every, 2.5);
    lo_message_add_symbol(every, "sym");
    lo_message_add_char(every, 'k');
    lo_message_add_true(every);
    lo_message_add_nil(every);
    std::uint8_t midi[4] = {0, 0x90, 60, 100};
    lo_message_add_midi(every, midi);
    lo_blob blob = lo_blob_new(5, "blob!");
    lo_message_add_blob(every, blob);
    seeds.write("every-type", serialise(every, "/kavio/3/opacity"));

    lo_bundle bundle = lo_bundle_new(LO_TT_IMMEDIATE);
    lo_bundle_add_message(bundle, "/kavio/go", go);
    lo_bundle_add_message(bundle, "/kavio/3/opacity", every);
    lo_bundle outer = lo_bundle_new(LO_TT_IMMEDIATE);
    lo_bundle_add_bundle(outer, bundle);
    QByteArray bytes(qsizetype(lo_bundle_length(outer)), '\0');
    std::size_t size = std::size_t(bytes.size());
    lo_bundle_serialise(outer, bytes.data(), &size);
    seeds.write("nested-bundle", bytes);
    lo_bundle_free_recursive(outer);
    lo_blob_free(blob);
}

void writeArtNet(const QString& root)
{
    const SeedDirectory seeds(root, "artnet_packet_fuzzer");
    seeds.write("poll", ArtNet::artPollPacket());
    ArtNet::ArtNet_Packet_ArtPollReply reply;
    ArtNet::assembleArtPollReply(reply, QStringLiteral("192.168.1.20"), QStringLiteral("Desk"), 0x2a2a, 0, 0);
    seeds.write("poll-reply", reply.encode());
    // ArtDmx is only received: its header as the standard lays it out, then 512 slots.
    QByteArray dmx("Art-Net\0", 8);
    dmx.append(char(0x00)).append(char(0x50));  // OpDmx, little-endian
    dmx.append(char(0)).append(char(14));        // ProtVer
    dmx.append(char(1)).append(char(0));         // Sequence, Physical
    dmx.append(char(0)).append(char(0));         // SubUni, Net
    dmx.append(char(0x02)).append(char(0x00));   // Length 512, big-endian
    for (int slot = 0; slot < ArtNet::kDmxSlots; ++slot)
        dmx.append(char(slot * 7));
    seeds.write("dmx", dmx);
}

void writeMIDI(const QString& root)
{
    const SeedDirectory seeds(root, "midi_packet_fuzzer");
    // Each packet as [length][bytes].
    const auto packets = [](std::initializer_list<Bytes> list) {
        Bytes out;
        for (const Bytes& p : list) {
            out.push_back(std::uint8_t(p.size()));
            out.insert(out.end(), p.begin(), p.end());
        }
        return out;
    };
    const MIDIMessageCodec::SMPTEFields time{1, 2, 3, 4};
    Bytes quarterFrames;
    for (std::uint8_t data : MIDIMessageCodec::mtcQuarterFrameData(time)) {
        quarterFrames.push_back(2);
        quarterFrames.push_back(0xF1);
        quarterFrames.push_back(data);
    }
    seeds.write("quarter-frames", quarterFrames);
    const auto locate = MIDIMessageCodec::mmcLocateMessage(time);
    const auto& play = MIDIMessageCodec::kMMCPlayMessage;
    const auto& stop = MIDIMessageCodec::kMMCStopMessage;
    const auto& cc = MIDIMessageCodec::kControlChangeMessage;
    seeds.write("transport", packets({Bytes(locate.begin(), locate.end()), Bytes(play.begin(), play.end()),
                                      Bytes(stop.begin(), stop.end()), Bytes(cc.begin(), cc.end())}));
    // Received only: notes, a real-time Stop, and an MSC GO whose SysEx spans two packets.
    seeds.write("notes-and-split-sysex",
                packets({{0x90, 60, 100}, {0x80, 60, 0}, {0xFC}, {0xF0, 0x7F, 0x01, 0x02, 0x01, 0x01}, {'1', '2', 0xF7}}));
}

void writeNetworkLink(const QString& root)
{
    const SeedDirectory seeds(root, "network_link_packet_fuzzer");
    // Received only here (the sending endpoints have not landed): header, command, time, rate, cue.
    seeds.write("locate", Bytes{'N', 'M', 'C', '1', 10, 1, 2, 3, 4, 25, 0, 0});
    seeds.write("backup-goto", Bytes{'N', 'M', 'C', '1', 110, 0, 0, 10, 0, 30, 7, 0});
}

void writeSwitcher(const QString& root)
{
    using namespace switcherwire;
    const SeedDirectory seeds(root, "switcher_datagram_fuzzer");
    // As the session and the tests' simulated switcher write them.
    seeds.write("hello", encodeHello(Header{0, 0x1234, 0, 0, 0}, kHelloConnect));
    seeds.write("ack-and-resend-request", encode(Header{kAck | kRequestResend, 0x8001, 5, 7, 0}));
    const std::vector<Command> dump = {versionCommand({kProtocolMajor, 30}), productNameCommand("Switcher"),
                                       mixEffectCountCommand(1),
                                       inputPropertiesCommand({3010, "Media Player 1", "MP1", uint8_t(PortType::MediaPlayerFill)}),
                                       emptyCommand(switcherwire::fourCC("InCm"))};
    seeds.write("state-dump", encode(Header{kReliable, 0x8001, 0, 0, 1}, dump));
    const std::vector<Tally> tally = {{1, true, false}, {2, false, true}};
    const std::vector<Command> change = {sourceOnBlockCommand(switcherwire::fourCC("PrgI"), {0, 1}),
                                         sourceOnBlockCommand(switcherwire::fourCC("PrvI"), {0, 2}), tallyCommand(tally),
                                         blockCommand(switcherwire::fourCC("DCut"), 0)};
    seeds.write("tally-change", encode(Header{kReliable | kAck, 0x8001, 3, 0, 9}, change));
}

void writeNdiLoopback(const QString& root)
{
    const SeedDirectory seeds(root, "ndi_loopback_fuzzer");
    // As the loopback backend sends them, in pieces of [length] x 16 + 1 bytes.
    const auto pieces = [](const Bytes& stream) {
        Bytes out;
        for (std::size_t at = 0; at < stream.size();) {
            const std::size_t n = std::min<std::size_t>(stream.size() - at, 255 * 16 + 1);
            out.push_back(std::uint8_t((n - 1) / 16));
            const std::size_t take = std::min<std::size_t>(stream.size() - at, (n - 1) / 16 * 16 + 1);
            out.insert(out.end(), stream.begin() + std::ptrdiff_t(at), stream.begin() + std::ptrdiff_t(at + take));
            at += take;
        }
        return out;
    };
    Bytes pixels(8 * 2 * 2 * 2, 0x40);
    ndi::VideoFrame video;
    video.width = 8, video.height = 2, video.fourCC = ndi::kFourCC_P216, video.data = pixels.data();
    video.lineStride = 16;
    std::vector<float> samples(2 * 4, 0.5f);
    ndi::AudioFrame audio;
    audio.channels = 2, audio.samples = 4, audio.data = samples.data(), audio.channelStride = 16;
    Bytes stream = NdiLoopbackCodec::encodeVideo(video);
    for (const Bytes& m : {NdiLoopbackCodec::encodeAudio(audio), NdiLoopbackCodec::encodeTally({true, false}),
                           NdiLoopbackCodec::encodeMetadata("<ndi_product/>")})
        stream.insert(stream.end(), m.begin(), m.end());
    seeds.write("video-audio-tally-metadata", pieces(stream));
}

Bytes section(std::uint8_t type, const Bytes& body)
{
    const std::size_t n = body.size();
    Bytes out{std::uint8_t(n), std::uint8_t(n >> 8), std::uint8_t(n >> 16), type};
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes le32s(std::initializer_list<std::uint32_t> values)
{
    Bytes out;
    for (std::uint32_t v : values)
        out.insert(out.end(), {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24)});
    return out;
}

Bytes join(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

Bytes snappyOf(const Bytes& data)
{
    std::string out;
    snappy::Compress(reinterpret_cast<const char*>(data.data()), data.size(), &out);
    return Bytes(out.begin(), out.end());
}

void writeHyperDeck(const QString& root)
{
    const SeedDirectory seeds(root, "hyperdeck_command_fuzzer");
    // Received only (the server writes replies, never commands): [n][n bytes] pieces of what
    // controllers send, split mid-line as slow clients do.
    const auto pieces = [](const std::vector<std::string>& parts) {
        QByteArray out;
        for (const auto& part : parts) {
            out += char(part.size());
            out += QByteArray::fromStdString(part);
        }
        return out;
    };
    seeds.write("transport", pieces({"transport info\r\nclips co", "unt\r\nclips get: clip id: 1 count: 2\r\n"}));
    seeds.write("play-goto", pieces({"play: single clip: true loop: false speed: 100\r\n",
                                     "goto: timecode: -00:00:30:00\r\ngoto: clip id: 2\r\nstop\r\n"}));
    seeds.write("block-notify", pieces({"notify:\r\ntransport: true\r\n\r\n", "ping\nquit\n"}));
    seeds.write("refused", pieces({"record\r\n" + std::string(80, 'x') + "\r\n", "pi\xffng\r\n"}));
}

void writeHap(const QString& root)
{
    const SeedDirectory seeds(root, "hap_frame_fuzzer");
    // [subtype selector][width][height] as the target reads them, 8 x 8 pictures.
    const auto frame = [](std::uint8_t subType, const Bytes& packet) {
        Bytes out{subType, 0, 8, 0, 8};
        out.insert(out.end(), packet.begin(), packet.end());
        return out;
    };
    Bytes dxt1(32), dxt5(64), alpha(32);
    for (std::size_t i = 0; i < dxt5.size(); ++i)
        dxt5[i] = std::uint8_t(i * 31 + 7);
    std::copy(dxt5.begin(), dxt5.begin() + 32, dxt1.begin());
    std::copy(dxt5.begin() + 32, dxt5.end(), alpha.begin());
    seeds.write("dxt1-plain", frame(0, section(0xAB, dxt1)));
    seeds.write("dxt5-snappy", frame(1, section(0xBE, snappyOf(dxt5))));
    // Two chunks, one stored and one snappy, with offsets.
    const Bytes first(dxt5.begin(), dxt5.begin() + 32), second = snappyOf(Bytes(dxt5.begin() + 32, dxt5.end()));
    const Bytes instructions = section(0x01, join({section(0x02, {0x0A, 0x0B}),
                                                   section(0x03, le32s({32, std::uint32_t(second.size())})),
                                                   section(0x04, le32s({0, 32}))}));
    seeds.write("ycocg-chunked", frame(2, section(0xCF, join({instructions, first, second}))));
    // Hap Q Alpha: scaled YCoCg colour and RGTC1 alpha in one multiple-image section.
    const Bytes images = join({section(0xAF, dxt5), section(0xB1, snappyOf(alpha))});
    seeds.write("ycocg-alpha", frame(3, section(0x0D, images)));
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <directory>\n", argv[0]);
        return 2;
    }
    KavioLog::logger().set_level(spdlog::level::warn);
    const QString root = QString::fromLocal8Bit(argv[1]);
    writeArchives(root);
    writeOSC(root);
    writeArtNet(root);
    writeMIDI(root);
    writeNetworkLink(root);
    writeNdiLoopback(root);
    writeSwitcher(root);
    writeHap(root);
    writeHyperDeck(root);
    return 0;
}
