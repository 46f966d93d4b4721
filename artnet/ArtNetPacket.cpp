#include "ArtNetPacket.h"

#include <QStringList>

#include <algorithm>
#include <climits>
#include <cstring>

namespace ArtNet {

namespace {

constexpr char kID[8] = {'A', 'r', 't', '-', 'N', 'e', 't', '\0'};

std::uint8_t byteAt(const QByteArray& data, qsizetype offset)
{
    return offset < data.size() ? static_cast<std::uint8_t>(data[offset]) : 0;
}

template <std::size_t N>
void readBytes(const QByteArray& data, qsizetype offset, std::array<std::uint8_t, N>& out)
{
    for (std::size_t i = 0; i < N; ++i)
        out[i] = byteAt(data, offset + static_cast<qsizetype>(i));
}

template <std::size_t N>
void writeBytes(QByteArray& data, qsizetype offset, const std::array<std::uint8_t, N>& in)
{
    std::memcpy(data.data() + offset, in.data(), N);
}

template <std::size_t N>
void writeName(std::array<std::uint8_t, N>& field, const QByteArray& utf8)
{
    field.fill(0);
    std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(utf8.size()), N - 1);
    // A cut inside a character would leave half of it: end before the character instead.
    while (n > 0 && n < static_cast<std::size_t>(utf8.size()) && (static_cast<std::uint8_t>(utf8[qsizetype(n)]) & 0xC0) == 0x80)
        --n;
    std::memcpy(field.data(), utf8.constData(), n);
}

}  // namespace

std::optional<std::uint16_t> opCodeOf(const QByteArray& datagram)
{
    if (datagram.size() < kMinimumPacketSize || std::memcmp(datagram.constData(), kID, sizeof kID) != 0)
        return std::nullopt;
    return static_cast<std::uint16_t>(byteAt(datagram, 8) | (byteAt(datagram, 9) << 8));
}

std::optional<ArtDmx> parseArtDmx(const QByteArray& datagram)
{
    if (datagram.size() < kArtDmxHeaderSize)
        return std::nullopt;
    ArtDmx dmx;
    dmx.sequence = byteAt(datagram, 12);
    dmx.subUni = byteAt(datagram, 14);
    dmx.net = byteAt(datagram, 15);
    dmx.length = static_cast<std::uint16_t>((byteAt(datagram, 16) << 8) | byteAt(datagram, 17));
    const qsizetype n = std::min<qsizetype>({dmx.length, kDmxSlots, datagram.size() - kArtDmxHeaderSize});
    dmx.slotValues = datagram.mid(kArtDmxHeaderSize, n);
    return dmx;
}

void applyDmxSlots(const QByteArray& slotValues, std::array<std::uint8_t, kDmxSlots>& cache,
                   const std::function<void(int slot, int value)>& changed)
{
    const qsizetype n = std::min<qsizetype>(slotValues.size(), kDmxSlots);
    for (qsizetype i = 0; i < n; ++i) {
        const auto v = static_cast<std::uint8_t>(slotValues[i]);
        if (v == cache[static_cast<std::size_t>(i)])
            continue;
        cache[static_cast<std::size_t>(i)] = v;
        changed(static_cast<int>(i) + 1, v);
    }
}

QByteArray artPollPacket()
{
    QByteArray packet(kArtPollSize, '\0');
    std::memcpy(packet.data(), kID, sizeof kID);
    packet[8] = 0x00;
    packet[9] = 0x20;
    packet[11] = 14;
    packet[13] = static_cast<char>(0xFF);
    return packet;
}

QByteArray ArtNet_Packet_ArtPollReply::encode() const
{
    QByteArray out(kArtPollReplySize, '\0');
    std::memcpy(out.data(), kID, sizeof kID);
    out[8] = static_cast<char>(OpPollReply & 0xFF);
    out[9] = static_cast<char>(OpPollReply >> 8);
    writeBytes(out, 10, IPAddress);
    out[14] = static_cast<char>(Port & 0xFF);
    out[15] = static_cast<char>(Port >> 8);
    const std::array<std::uint8_t, 10> singles{VersInfoH, VersInfo, NetSwitch, SubSwitch, OemHi,
                                               OemLo, UbeaVersion, Status1, EstaManLo, EstaManHi};
    writeBytes(out, 16, singles);
    writeBytes(out, 26, ShortName);
    writeBytes(out, 44, LongName);
    writeBytes(out, 108, NodeReport);
    out[172] = static_cast<char>(NumPortsHi);
    out[173] = static_cast<char>(NumPortsLo);
    writeBytes(out, 174, PortTypes);
    writeBytes(out, 178, GoodInput);
    writeBytes(out, 182, GoodOutput);
    writeBytes(out, 186, SwIn);
    writeBytes(out, 190, SwOut);
    out[194] = static_cast<char>(SwVideo);
    out[195] = static_cast<char>(SwMacro);
    out[196] = static_cast<char>(SwRemote);
    writeBytes(out, 197, Spare);
    out[200] = static_cast<char>(Style);
    writeBytes(out, 201, MAC);
    return out;
}

ArtNet_Packet_ArtPollReply ArtNet_Packet_ArtPollReply::decode(const QByteArray& d)
{
    ArtNet_Packet_ArtPollReply r;
    readBytes(d, 10, r.IPAddress);
    r.Port = static_cast<std::uint16_t>(byteAt(d, 14) | (byteAt(d, 15) << 8));
    std::array<std::uint8_t, 10> singles{};
    readBytes(d, 16, singles);
    r.VersInfoH = singles[0];
    r.VersInfo = singles[1];
    r.NetSwitch = singles[2];
    r.SubSwitch = singles[3];
    r.OemHi = singles[4];
    r.OemLo = singles[5];
    r.UbeaVersion = singles[6];
    r.Status1 = singles[7];
    r.EstaManLo = singles[8];
    r.EstaManHi = singles[9];
    readBytes(d, 26, r.ShortName);
    readBytes(d, 44, r.LongName);
    readBytes(d, 108, r.NodeReport);
    r.NumPortsHi = byteAt(d, 172);
    r.NumPortsLo = byteAt(d, 173);
    readBytes(d, 174, r.PortTypes);
    readBytes(d, 178, r.GoodInput);
    readBytes(d, 182, r.GoodOutput);
    readBytes(d, 186, r.SwIn);
    readBytes(d, 190, r.SwOut);
    r.SwVideo = byteAt(d, 194);
    r.SwMacro = byteAt(d, 195);
    r.SwRemote = byteAt(d, 196);
    readBytes(d, 197, r.Spare);
    r.Style = byteAt(d, 200);
    readBytes(d, 201, r.MAC);
    return r;
}

void assembleArtPollReply(ArtNet_Packet_ArtPollReply& reply, const QString& interfaceAddress,
                          const QString& portName, std::uint64_t oemCode, std::uint8_t net, std::uint8_t subUni)
{
    const QStringList parts = interfaceAddress.split(QLatin1Char('.'));
    for (int i = 0; i < 4; ++i)
        reply.IPAddress[static_cast<std::size_t>(i)] =
            i < parts.size() ? static_cast<std::uint8_t>(leadingIntValue(parts[i]) & 0xFF) : 0;
    reply.Port = kPort;
    reply.VersInfoH = 0;
    reply.VersInfo = 14;
    reply.NetSwitch = net & 0x7F;
    reply.SubSwitch = (subUni >> 4) & 0x0F;
    reply.OemHi = static_cast<std::uint8_t>((oemCode >> 8) & 0xFF);
    reply.OemLo = static_cast<std::uint8_t>(oemCode & 0xFF);
    const QByteArray name = portName.toUtf8();
    writeName(reply.ShortName, name);
    writeName(reply.LongName, name);
    reply.NumPortsHi = 0;
    reply.NumPortsLo = 1;
    reply.PortTypes = {0x80, 0, 0, 0};
    // The whole Sub-Uni byte: readers take the universe from the low nibble, and some (OLA)
    // match the port on the whole byte.
    reply.SwOut = {subUni, 0, 0, 0};
}

std::vector<FoundOutputPort> outputPortsOfPollReply(const ArtNet_Packet_ArtPollReply& reply,
                                                    const QString& ownPortName)
{
    const auto nameEnd = std::find(reply.LongName.begin(), reply.LongName.end(), 0);
    const QString longName = QString::fromUtf8(reinterpret_cast<const char*>(reply.LongName.data()),
                                               nameEnd - reply.LongName.begin());
    std::vector<FoundOutputPort> ports;
    if (longName == ownPortName)
        return ports;
    const QString ip = QStringLiteral("%1.%2.%3.%4")
                           .arg(reply.IPAddress[0])
                           .arg(reply.IPAddress[1])
                           .arg(reply.IPAddress[2])
                           .arg(reply.IPAddress[3]);
    const int count = std::min<int>(reply.NumPortsLo, 4);
    for (int p = 0; p < count; ++p) {
        if (!(reply.PortTypes[static_cast<std::size_t>(p)] & 0x80))
            continue;
        ports.push_back({longName, ip, reply.SubSwitch, reply.SwOut[static_cast<std::size_t>(p)] & 0x0F});
    }
    return ports;
}

QString directBroadcastAddressForHost(const QString& host)
{
    const QString loopback = QStringLiteral("127.0.0.1");
    if (host.isNull() || host == loopback)
        return loopback;
    const QStringList parts = host.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return loopback;
    return QStringLiteral("%1.%2.%3.255")
        .arg(leadingIntValue(parts[0]))
        .arg(leadingIntValue(parts[1]))
        .arg(leadingIntValue(parts[2]));
}

int leadingIntValue(const QString& text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+')))
        negative = text[i++] == QLatin1Char('-');
    long long value = 0;
    for (; i < text.size() && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9'); ++i) {
        value = value * 10 + (text[i].unicode() - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            break;
    }
    if (negative)
        value = -value;
    return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

}  // namespace ArtNet
