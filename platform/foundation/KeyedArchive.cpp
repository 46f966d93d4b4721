#include "KeyedArchive.h"

#include <QHash>
#include <QLatin1StringView>
#include <QStringList>
#include <QVariantHash>
#include <QVariantList>
#include <QVariantMap>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <vector>

namespace {

// Failures unwind to the public entry points, which turn them into an error result.
struct Failure {
    QString message;
};

[[noreturn]] void fail(const QString& message) { throw Failure{message}; }

// Property-list object types, as the binary format distinguishes them.
enum class PType {
    Null,
    Bool,
    Int,     // 1, 2, 4 or 8 bytes, or 16 bytes holding a negative 64-bit value
    UInt,    // 16 bytes, high half zero
    Real32,
    Real64,
    Date,
    Data,
    String,
    Uid,
    Array,
    Set,
    Dict,
    Fill,
};

QString typeName(PType type)
{
    switch (type) {
    case PType::Null: return QStringLiteral("null");
    case PType::Bool: return QStringLiteral("boolean");
    case PType::Int:
    case PType::UInt: return QStringLiteral("integer");
    case PType::Real32:
    case PType::Real64: return QStringLiteral("real");
    case PType::Date: return QStringLiteral("date");
    case PType::Data: return QStringLiteral("data");
    case PType::String: return QStringLiteral("string");
    case PType::Uid: return QStringLiteral("UID");
    case PType::Array: return QStringLiteral("array");
    case PType::Set: return QStringLiteral("set");
    case PType::Dict: return QStringLiteral("dictionary");
    case PType::Fill: return QStringLiteral("fill byte");
    }
    return QStringLiteral("unknown");
}

// ---------------------------------------------------------------------------------------------
// Binary property list, reading. Objects are decoded one at a time by index; a container
// answers the indices of its members, so nothing here recurses and a damaged file can make
// no loop. Every read is checked against the object area (header to offset table).

struct PObject {
    PType type = PType::Null;
    bool boolean = false;
    qint64 integer = 0;
    quint64 unsignedInteger = 0;  // UInt and Uid
    float real32 = 0.0f;
    double real64 = 0.0;          // Real64 and Date
    QByteArray data;
    QString string;
    std::vector<quint64> refs;    // Array, Set: members; Dict: the keys, then the values

    std::size_t count() const { return type == PType::Dict ? refs.size() / 2 : refs.size(); }
};

class BinaryPlistReader {
public:
    explicit BinaryPlistReader(const QByteArray& bytes)
        : p_(reinterpret_cast<const uchar*>(bytes.constData())),
          size_(static_cast<std::size_t>(bytes.size()))
    {
        static const char magic[] = "bplist0";
        if (size_ < 7 || std::memcmp(p_, magic, 7) != 0)
            fail(QStringLiteral("not a binary property list"));
        const std::size_t trailerSize = 32;
        if (size_ < 8 + 1 + trailerSize)
            fail(QStringLiteral("truncated property list (%1 bytes)").arg(size_));
        const std::size_t trailer = size_ - trailerSize;
        offsetIntSize_ = p_[trailer + 6];
        refSize_ = p_[trailer + 7];
        numObjects_ = readBE(trailer + 8, 8);
        top_ = readBE(trailer + 16, 8);
        tableOffset_ = readBE(trailer + 24, 8);
        if (!validWidth(offsetIntSize_) || !validWidth(refSize_))
            fail(QStringLiteral("damaged property list (bad trailer)"));
        if (numObjects_ == 0 || top_ >= numObjects_)
            fail(QStringLiteral("damaged property list (bad object count)"));
        if (tableOffset_ < 9 || tableOffset_ > trailer)
            fail(QStringLiteral("truncated or damaged property list (offset table out of range)"));
        if (numObjects_ > (trailer - tableOffset_) / offsetIntSize_)
            fail(QStringLiteral("truncated or damaged property list (offset table too short)"));
    }

    quint64 topObject() const { return top_; }
    quint64 objectCount() const { return numObjects_; }

    PObject object(quint64 index) const
    {
        std::size_t pos = offsetOf(index);
        const uchar marker = p_[pos++];
        const int high = marker >> 4;
        const int low = marker & 0x0f;
        PObject o;
        switch (high) {
        case 0x0:
            if (marker == 0x00) o.type = PType::Null;
            else if (marker == 0x08 || marker == 0x09) {
                o.type = PType::Bool;
                o.boolean = marker == 0x09;
            } else if (marker == 0x0f) o.type = PType::Fill;
            else fail(QStringLiteral("damaged property list (unknown marker 0x%1)")
                          .arg(marker, 2, 16, QLatin1Char('0')));
            break;
        case 0x1:
            readInteger(low, pos, o);
            break;
        case 0x2:
            if (low == 2) {
                need(pos, 4);
                const auto bits = static_cast<std::uint32_t>(readBE(pos, 4));
                std::memcpy(&o.real32, &bits, 4);
                o.type = PType::Real32;
            } else if (low == 3) {
                need(pos, 8);
                const std::uint64_t bits = readBE(pos, 8);
                std::memcpy(&o.real64, &bits, 8);
                o.type = PType::Real64;
            } else {
                fail(QStringLiteral("damaged property list (real of width %1)").arg(1 << low));
            }
            break;
        case 0x3:
            if (low != 3) fail(QStringLiteral("damaged property list (bad date)"));
            need(pos, 8);
            {
                const std::uint64_t bits = readBE(pos, 8);
                std::memcpy(&o.real64, &bits, 8);
            }
            o.type = PType::Date;
            break;
        case 0x4: {
            const quint64 n = readCount(low, pos);
            need(pos, n);
            o.type = PType::Data;
            o.data = QByteArray(reinterpret_cast<const char*>(p_ + pos), static_cast<qsizetype>(n));
            break;
        }
        case 0x5: {
            const quint64 n = readCount(low, pos);
            need(pos, n);
            o.type = PType::String;
            o.string = QString::fromLatin1(reinterpret_cast<const char*>(p_ + pos),
                                           static_cast<qsizetype>(n));
            break;
        }
        case 0x6: {
            const quint64 n = readCount(low, pos);
            if (n > (tableOffset_ - pos) / 2) fail(truncated());
            o.type = PType::String;
            o.string.resize(static_cast<qsizetype>(n));
            QChar* out = o.string.data();
            for (quint64 i = 0; i < n; ++i)
                out[i] = QChar(static_cast<char16_t>((p_[pos + 2 * i] << 8) | p_[pos + 2 * i + 1]));
            break;
        }
        case 0x8:
            o.type = PType::Uid;
            o.unsignedInteger = readUid(low, pos);
            break;
        case 0xa:
        case 0xb:
        case 0xc:
        case 0xd: {
            const quint64 n = readCount(low, pos);
            const quint64 refCount = high == 0xd ? 2 * n : n;
            if (n > (tableOffset_ - pos) / refSize_ || refCount > (tableOffset_ - pos) / refSize_)
                fail(truncated());
            o.type = high == 0xa ? PType::Array : high == 0xd ? PType::Dict : PType::Set;
            o.refs.resize(static_cast<std::size_t>(refCount));
            for (quint64 i = 0; i < refCount; ++i) {
                o.refs[i] = readBE(pos + i * refSize_, refSize_);
                if (o.refs[i] >= numObjects_)
                    fail(QStringLiteral("damaged property list (object reference out of range)"));
            }
            break;
        }
        default:
            fail(QStringLiteral("damaged property list (unknown marker 0x%1)")
                     .arg(marker, 2, 16, QLatin1Char('0')));
        }
        return o;
    }

    // The UID at `index`, read where it lies (containers list thousands); nothing when that
    // object is not a UID.
    std::optional<quint64> uidAt(quint64 index) const
    {
        std::size_t pos = offsetOf(index);
        const uchar marker = p_[pos++];
        if ((marker >> 4) != 0x8) return std::nullopt;
        return readUid(marker & 0x0f, pos);
    }

    // The string at `index`, or a null QString when that object is not a string.
    QString stringAt(quint64 index) const
    {
        PObject o = object(index);
        return o.type == PType::String ? o.string : QString();
    }

    // Whether the object at `index` is the string `key`, compared where it lies: field lookups
    // run for every decoded object, and building each key as a QString made them cost the
    // length of every key passed over.
    bool isString(quint64 index, QLatin1StringView key) const
    {
        std::size_t pos = offsetOf(index);
        const uchar marker = p_[pos++];
        const int high = marker >> 4;
        if (high != 0x5 && high != 0x6) return false;
        const quint64 n = readCount(marker & 0x0f, pos);
        const quint64 unit = high == 0x5 ? 1 : 2;
        need(pos, n * unit);
        if (n != quint64(key.size())) return false;
        for (quint64 i = 0; i < n; ++i) {
            const char16_t c = unit == 1 ? p_[pos + i] : char16_t((p_[pos + 2 * i] << 8) | p_[pos + 2 * i + 1]);
            if (c != key[qsizetype(i)].unicode()) return false;
        }
        return true;
    }

    // The member of a dictionary object stored under `key`; -1 when there is none.
    qint64 lookup(const PObject& dict, QLatin1StringView key) const
    {
        const std::size_t n = dict.count();
        for (std::size_t i = 0; i < n; ++i) {
            if (isString(dict.refs[i], key))
                return static_cast<qint64>(dict.refs[n + i]);
        }
        return -1;
    }

private:
    static bool validWidth(int w) { return w == 1 || w == 2 || w == 4 || w == 8; }

    QString truncated() const
    {
        return QStringLiteral("truncated or damaged property list (object runs past its end)");
    }

    // Big-endian unsigned of `width` bytes at pos; the caller has checked the bounds.
    quint64 readBE(std::size_t pos, int width) const
    {
        quint64 v = 0;
        for (int i = 0; i < width; ++i) v = (v << 8) | p_[pos + i];
        return v;
    }

    // The object area is [8, tableOffset_): every object must lie inside it.
    void need(std::size_t pos, quint64 n) const
    {
        if (pos > tableOffset_ || n > tableOffset_ - pos) fail(truncated());
    }

    std::size_t offsetOf(quint64 index) const
    {
        if (index >= numObjects_)
            fail(QStringLiteral("damaged property list (object reference out of range)"));
        const quint64 off = readBE(tableOffset_ + index * offsetIntSize_, offsetIntSize_);
        if (off < 8 || off >= tableOffset_)
            fail(QStringLiteral("damaged property list (object offset out of range)"));
        return static_cast<std::size_t>(off);
    }

    void readInteger(int low, std::size_t& pos, PObject& o) const
    {
        if (low > 4) fail(QStringLiteral("damaged property list (integer of width %1)").arg(1 << low));
        const int width = 1 << low;
        need(pos, static_cast<quint64>(width));
        if (width <= 4) {  // 1, 2 and 4 bytes are unsigned
            o.type = PType::Int;
            o.integer = static_cast<qint64>(readBE(pos, width));
        } else if (width == 8) {  // 8 bytes are signed
            o.type = PType::Int;
            o.integer = static_cast<qint64>(readBE(pos, 8));
        } else {  // 16 bytes: unsigned 64-bit, or a sign-extended negative value
            const quint64 hi = readBE(pos, 8);
            const quint64 lo = readBE(pos + 8, 8);
            if (hi == 0) {
                o.type = PType::UInt;
                o.unsignedInteger = lo;
            } else if (hi == ~quint64(0) && static_cast<qint64>(lo) < 0) {
                o.type = PType::Int;
                o.integer = static_cast<qint64>(lo);
            } else {
                fail(QStringLiteral("integer out of the 64-bit range"));
            }
        }
        pos += static_cast<std::size_t>(width);
    }

    quint64 readUid(int low, std::size_t pos) const
    {
        const int width = low + 1;
        if (width > 8) fail(QStringLiteral("damaged property list (UID of %1 bytes)").arg(width));
        need(pos, static_cast<quint64>(width));
        return readBE(pos, width);
    }

    // A container's or string's count: in the marker's low nibble, or after it as an integer.
    quint64 readCount(int low, std::size_t& pos) const
    {
        if (low != 0x0f) return static_cast<quint64>(low);
        need(pos, 1);
        const uchar m = p_[pos++];
        if ((m >> 4) != 0x1 || (m & 0x0f) > 3)
            fail(QStringLiteral("damaged property list (bad length)"));
        const int width = 1 << (m & 0x0f);
        need(pos, static_cast<quint64>(width));
        const quint64 n = readBE(pos, width);
        pos += static_cast<std::size_t>(width);
        if (n > tableOffset_) fail(truncated());
        return n;
    }

    const uchar* p_;
    std::size_t size_;
    int offsetIntSize_ = 0;
    int refSize_ = 0;
    quint64 numObjects_ = 0;
    quint64 top_ = 0;
    quint64 tableOffset_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Keyed archive, reading.

class Unarchiver {
public:
    explicit Unarchiver(const BinaryPlistReader& reader) : r_(reader) {}

    QVariant decodeRoot()
    {
        const PObject top = r_.object(r_.topObject());
        if (top.type != PType::Dict) fail(QStringLiteral("not a keyed archive (no dictionary at the top)"));

        const qint64 archiver = find(top, QLatin1StringView("$archiver"));
        if (archiver < 0 || !r_.isString(quint64(archiver), QLatin1StringView("NSKeyedArchiver")))
            fail(QStringLiteral("not a keyed archive (\"$archiver\" is not \"NSKeyedArchiver\")"));

        const qint64 version = find(top, QLatin1StringView("$version"));
        if (version < 0) fail(QStringLiteral("not a keyed archive (no \"$version\")"));
        const PObject v = r_.object(quint64(version));
        if (v.type != PType::Int || v.integer != 100000)
            fail(QStringLiteral("unsupported keyed-archive version"));

        const qint64 objects = find(top, QLatin1StringView("$objects"));
        if (objects < 0) fail(QStringLiteral("not a keyed archive (no \"$objects\")"));
        PObject list = r_.object(quint64(objects));
        if (list.type != PType::Array) fail(QStringLiteral("not a keyed archive (\"$objects\" is not an array)"));
        objects_ = std::move(list.refs);
        if (objects_.empty() || !r_.isString(objects_[0], QLatin1StringView("$null")))
            fail(QStringLiteral("not a keyed archive (\"$objects\" does not begin with \"$null\")"));
        state_.assign(r_.objectCount(), State::Unseen);

        const qint64 topIndex = find(top, QLatin1StringView("$top"));
        if (topIndex < 0) fail(QStringLiteral("root object not found (no \"$top\")"));
        const PObject topDict = r_.object(quint64(topIndex));
        if (topDict.type != PType::Dict) fail(QStringLiteral("root object not found (\"$top\" is not a dictionary)"));
        const qint64 root = find(topDict, QLatin1StringView("root"));
        if (root < 0) fail(QStringLiteral("root object not found"));
        const PObject rootUid = r_.object(quint64(root));
        if (rootUid.type != PType::Uid) fail(QStringLiteral("root object not found (\"root\" is not a UID)"));
        if (rootUid.unsignedInteger == 0) fail(QStringLiteral("root object is nil"));
        return decode(rootUid.unsignedInteger, 0).value;
    }

private:
    enum class State : std::uint8_t { Unseen, InProgress, Done };
    // A decoded value with its height: 0 for a scalar or an empty container, else one more
    // than its highest member. A shared value is reached at several depths, so its depth is
    // checked on every reference against depth + height, not only where it is first decoded.
    struct Decoded {
        QVariant value;
        int height = 0;
    };
    struct Memo {
        Decoded decoded;
        qint64 expandedSize = 0;
    };

    // The archive's budget: every value counted once per place it appears, and every entry
    // passed over while looking up an object's fields.
    void count(qint64 n)
    {
        expanded_ += n;
        if (expanded_ > KeyedArchive::kMaxExpandedValues)
            fail(QStringLiteral("archive expands to more than %1 values").arg(KeyedArchive::kMaxExpandedValues));
    }

    qint64 find(const PObject& dict, QLatin1StringView key)
    {
        count(qint64(dict.count()));
        return r_.lookup(dict, key);
    }

    static void checkDepth(int depth, int height)
    {
        if (depth + height > KeyedArchive::kMaxDepth)
            fail(QStringLiteral("values nested deeper than %1 levels").arg(KeyedArchive::kMaxDepth));
    }

    // Several UIDs may name one property-list object: it is decoded once, by object.
    Decoded decode(quint64 uid, int depth)
    {
        if (uid == 0) fail(QStringLiteral("nil value inside a container"));
        if (uid >= objects_.size())
            fail(QStringLiteral("UID %1 out of range (%2 objects)").arg(uid).arg(objects_.size()));
        const quint64 index = objects_[uid];
        switch (state_[index]) {
        case State::InProgress:
            fail(QStringLiteral("reference cycle at UID %1").arg(uid));
        case State::Done: {
            const Memo& m = *memo_.constFind(index);
            checkDepth(depth, m.decoded.height);
            count(m.expandedSize);
            return m.decoded;
        }
        case State::Unseen:
            break;
        }
        checkDepth(depth, 0);

        state_[index] = State::InProgress;
        const qint64 before = expanded_;
        count(1);
        const PObject o = r_.object(index);
        Decoded d;
        switch (o.type) {
        case PType::Bool: d.value = QVariant(o.boolean); break;
        case PType::Int: d.value = QVariant(qint64(o.integer)); break;
        case PType::UInt: d.value = QVariant(quint64(o.unsignedInteger)); break;
        case PType::Real32: d.value = QVariant(o.real32); break;
        case PType::Real64: d.value = QVariant(o.real64); break;
        case PType::String: d.value = QVariant(o.string); break;
        case PType::Data: d.value = QVariant(o.data); break;
        case PType::Dict: d = decodeInstance(o, uid, depth); break;
        default:
            fail(QStringLiteral("unexpected %1 at UID %2").arg(typeName(o.type)).arg(uid));
        }
        state_[index] = State::Done;
        memo_.insert(index, Memo{d, expanded_ - before});
        return d;
    }

    // A member of the container at `depth`, raising the container's height to cover it.
    QVariant member(quint64 uid, int depth, int& height)
    {
        Decoded d = decode(uid, depth + 1);
        height = std::max(height, d.height + 1);
        return std::move(d.value);
    }

    QString className(const PObject& instance, quint64 uid)
    {
        const qint64 cls = find(instance, QLatin1StringView("$class"));
        if (cls < 0) fail(QStringLiteral("object without \"$class\" at UID %1").arg(uid));
        const PObject ref = r_.object(quint64(cls));
        if (ref.type != PType::Uid) fail(QStringLiteral("\"$class\" is not a UID at UID %1").arg(uid));
        const quint64 classUid = ref.unsignedInteger;
        if (classUid == 0 || classUid >= objects_.size())
            fail(QStringLiteral("UID %1 out of range (%2 objects)").arg(classUid).arg(objects_.size()));
        const quint64 index = objects_[classUid];
        auto it = classNames_.constFind(index);
        if (it != classNames_.constEnd()) return *it;
        const PObject cd = r_.object(index);
        if (cd.type != PType::Dict) fail(QStringLiteral("bad class description at UID %1").arg(classUid));
        const qint64 nameIndex = find(cd, QLatin1StringView("$classname"));
        const QString name = nameIndex < 0 ? QString() : r_.stringAt(quint64(nameIndex));
        if (name.isEmpty()) fail(QStringLiteral("class description without \"$classname\" at UID %1").arg(classUid));
        classNames_.insert(index, name);
        return name;
    }

    // The UIDs listed by an instance's array field ("NS.keys", "NS.objects"); empty when absent.
    std::vector<quint64> uidArray(const PObject& instance, QLatin1StringView key)
    {
        std::vector<quint64> uids;
        const qint64 index = find(instance, key);
        if (index < 0) return uids;
        const PObject array = r_.object(quint64(index));
        if (array.type != PType::Array) fail(QStringLiteral("\"%1\" is not an array").arg(key));
        uids.reserve(array.refs.size());
        for (quint64 ref : array.refs) {
            const std::optional<quint64> u = r_.uidAt(ref);
            if (!u) fail(QStringLiteral("\"%1\" holds a %2 instead of a UID").arg(key, typeName(r_.object(ref).type)));
            uids.push_back(*u);
        }
        return uids;
    }

    PObject field(const PObject& instance, QLatin1StringView key, PType type, const QString& cls)
    {
        const qint64 index = find(instance, key);
        if (index < 0) fail(QStringLiteral("%1 without \"%2\"").arg(cls, key));
        PObject o = r_.object(quint64(index));
        if (o.type != type) fail(QStringLiteral("%1 with a %2 as \"%3\"").arg(cls, typeName(o.type), key));
        return o;
    }

    Decoded decodeInstance(const PObject& instance, quint64 uid, int depth)
    {
        const QString cls = className(instance, uid);
        Decoded d;
        if (cls == QLatin1String("NSDictionary") || cls == QLatin1String("NSMutableDictionary")) {
            const std::vector<quint64> keys = uidArray(instance, QLatin1StringView("NS.keys"));
            const std::vector<quint64> values = uidArray(instance, QLatin1StringView("NS.objects"));
            if (keys.size() != values.size())
                fail(QStringLiteral("dictionary with %1 keys and %2 values").arg(keys.size()).arg(values.size()));
            QVariantMap map;
            for (std::size_t i = 0; i < keys.size(); ++i) {
                const QVariant key = member(keys[i], depth, d.height);
                if (key.typeId() != QMetaType::QString)
                    fail(QStringLiteral("dictionary key of type %1 (only strings are supported)")
                             .arg(QString::fromLatin1(key.typeName())));
                map.insert(key.toString(), member(values[i], depth, d.height));
            }
            d.value = map;
        } else if (cls == QLatin1String("NSArray") || cls == QLatin1String("NSMutableArray")) {
            const std::vector<quint64> values = uidArray(instance, QLatin1StringView("NS.objects"));
            QVariantList list;
            list.reserve(static_cast<qsizetype>(values.size()));
            for (quint64 v : values) list.append(member(v, depth, d.height));
            d.value = list;
        } else if (cls == QLatin1String("NSString") || cls == QLatin1String("NSMutableString")) {
            d.value = field(instance, QLatin1StringView("NS.string"), PType::String, cls).string;
        } else if (cls == QLatin1String("NSData") || cls == QLatin1String("NSMutableData")) {
            d.value = field(instance, QLatin1StringView("NS.data"), PType::Data, cls).data;
        } else {
            fail(QStringLiteral("unsupported class %1").arg(cls));
        }
        return d;
    }

    const BinaryPlistReader& r_;
    std::vector<quint64> objects_;   // "$objects": UID -> property-list object index
    std::vector<State> state_;       // by property-list object index, as memo_ and classNames_
    QHash<quint64, Memo> memo_;
    QHash<quint64, QString> classNames_;
    qint64 expanded_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Binary property list, writing.

struct PValue {
    PType type = PType::Null;
    bool boolean = false;
    qint64 integer = 0;
    quint64 unsignedInteger = 0;  // UInt, Uid
    float real32 = 0.0f;
    double real64 = 0.0;
    QByteArray data;
    QString string;
    std::vector<PValue> keys;     // Dict (strings)
    std::vector<PValue> values;   // Dict, Array

    static PValue makeString(const QString& s)
    {
        PValue v;
        v.type = PType::String;
        v.string = s;
        return v;
    }
    static PValue makeInt(qint64 i)
    {
        PValue v;
        v.type = PType::Int;
        v.integer = i;
        return v;
    }
    static PValue makeUid(quint64 u)
    {
        PValue v;
        v.type = PType::Uid;
        v.unsignedInteger = u;
        return v;
    }
    static PValue makeArray() { PValue v; v.type = PType::Array; return v; }
    static PValue makeDict() { PValue v; v.type = PType::Dict; return v; }
    void insert(const QString& key, PValue value)
    {
        keys.push_back(makeString(key));
        values.push_back(std::move(value));
    }
};

// Identity of a scalar for sharing: its kind and its exact bits (so 1, 1.0f, 1.0 and true
// stay apart, and so do 0.0 and -0.0).
QByteArray scalarKey(const PValue& v)
{
    QByteArray key;
    auto appendRaw = [&key](const void* p, std::size_t n) {
        key.append(static_cast<const char*>(p), static_cast<qsizetype>(n));
    };
    switch (v.type) {
    case PType::Bool: key = v.boolean ? "b1" : "b0"; break;
    case PType::Int: key = "i"; appendRaw(&v.integer, 8); break;
    case PType::UInt: key = "u"; appendRaw(&v.unsignedInteger, 8); break;
    case PType::Uid: key = "U"; appendRaw(&v.unsignedInteger, 8); break;
    case PType::Real32: key = "f"; appendRaw(&v.real32, 4); break;
    case PType::Real64: key = "d"; appendRaw(&v.real64, 8); break;
    case PType::String:
        key = "s";
        appendRaw(v.string.constData(), static_cast<std::size_t>(v.string.size()) * 2);
        break;
    case PType::Data: key = "x"; key.append(v.data); break;
    default: break;
    }
    return key;
}

class BinaryPlistWriter {
public:
    QByteArray write(const PValue& top)
    {
        add(top);
        const quint64 count = flat_.size();
        refSize_ = widthFor(count - 1);

        QByteArray out("bplist00");
        std::vector<quint64> offsets;
        offsets.reserve(flat_.size());
        for (const Flat& f : flat_) {
            offsets.push_back(static_cast<quint64>(out.size()));
            writeObject(out, f);
        }
        const quint64 tableOffset = static_cast<quint64>(out.size());
        const int offsetSize = widthFor(offsets.empty() ? 0 : offsets.back());
        for (quint64 off : offsets) appendBE(out, off, offsetSize);
        out.append(6, '\0');  // five unused bytes and the sort version
        out.append(static_cast<char>(offsetSize));
        out.append(static_cast<char>(refSize_));
        appendBE(out, count, 8);
        appendBE(out, 0, 8);  // the top object is the first
        appendBE(out, tableOffset, 8);
        return out;
    }

private:
    struct Flat {
        const PValue* value;
        std::vector<quint64> refs;  // Array: members; Dict: keys then values
    };

    static bool isScalar(PType t) { return t != PType::Array && t != PType::Dict && t != PType::Set; }

    static int widthFor(quint64 v)
    {
        if (v <= 0xff) return 1;
        if (v <= 0xffff) return 2;
        if (v <= 0xffffffffULL) return 4;
        return 8;
    }

    static void appendBE(QByteArray& out, quint64 v, int width)
    {
        for (int i = width - 1; i >= 0; --i) out.append(static_cast<char>((v >> (8 * i)) & 0xff));
    }

    quint64 add(const PValue& v)
    {
        if (isScalar(v.type)) {
            const QByteArray key = scalarKey(v);
            auto it = unique_.constFind(key);
            if (it != unique_.constEnd()) return *it;
            const quint64 index = flat_.size();
            flat_.push_back(Flat{&v, {}});
            unique_.insert(key, index);
            return index;
        }
        const quint64 index = flat_.size();
        flat_.push_back(Flat{&v, {}});
        std::vector<quint64> refs;
        refs.reserve(v.keys.size() + v.values.size());
        for (const PValue& k : v.keys) refs.push_back(add(k));
        for (const PValue& m : v.values) refs.push_back(add(m));
        flat_[index].refs = std::move(refs);
        return index;
    }

    static void writeMarker(QByteArray& out, int high, quint64 count)
    {
        if (count < 15) {
            out.append(static_cast<char>((high << 4) | int(count)));
            return;
        }
        out.append(static_cast<char>((high << 4) | 0x0f));
        writeUnsigned(out, count);
    }

    static void writeUnsigned(QByteArray& out, quint64 v)
    {
        const int width = widthFor(v);
        const int log2 = width == 1 ? 0 : width == 2 ? 1 : width == 4 ? 2 : 3;
        out.append(static_cast<char>(0x10 | log2));
        appendBE(out, v, width);
    }

    void writeObject(QByteArray& out, const Flat& f) const
    {
        const PValue& v = *f.value;
        switch (v.type) {
        case PType::Bool:
            out.append(static_cast<char>(v.boolean ? 0x09 : 0x08));
            break;
        case PType::Int:
            if (v.integer < 0) {
                out.append(static_cast<char>(0x13));
                appendBE(out, static_cast<quint64>(v.integer), 8);
            } else {
                writeUnsigned(out, static_cast<quint64>(v.integer));
            }
            break;
        case PType::UInt:
            out.append(static_cast<char>(0x14));
            appendBE(out, 0, 8);
            appendBE(out, v.unsignedInteger, 8);
            break;
        case PType::Real32: {
            std::uint32_t bits;
            std::memcpy(&bits, &v.real32, 4);
            out.append(static_cast<char>(0x22));
            appendBE(out, bits, 4);
            break;
        }
        case PType::Real64: {
            std::uint64_t bits;
            std::memcpy(&bits, &v.real64, 8);
            out.append(static_cast<char>(0x23));
            appendBE(out, bits, 8);
            break;
        }
        case PType::Data:
            writeMarker(out, 0x4, static_cast<quint64>(v.data.size()));
            out.append(v.data);
            break;
        case PType::String: {
            bool ascii = true;
            for (QChar c : v.string) {
                if (c.unicode() >= 0x80) {
                    ascii = false;
                    break;
                }
            }
            if (ascii) {
                writeMarker(out, 0x5, static_cast<quint64>(v.string.size()));
                out.append(v.string.toLatin1());
            } else {
                writeMarker(out, 0x6, static_cast<quint64>(v.string.size()));
                for (QChar c : v.string) appendBE(out, c.unicode(), 2);
            }
            break;
        }
        case PType::Uid: {
            const int width = widthFor(v.unsignedInteger);
            out.append(static_cast<char>(0x80 | (width - 1)));
            appendBE(out, v.unsignedInteger, width);
            break;
        }
        case PType::Array:
            writeMarker(out, 0xa, f.refs.size());
            for (quint64 r : f.refs) appendBE(out, r, refSize_);
            break;
        case PType::Dict:
            writeMarker(out, 0xd, f.refs.size() / 2);
            for (quint64 r : f.refs) appendBE(out, r, refSize_);
            break;
        default:
            fail(QStringLiteral("internal error: cannot write a %1").arg(typeName(v.type)));
        }
    }

    std::vector<Flat> flat_;
    QHash<QByteArray, quint64> unique_;
    int refSize_ = 1;
};

// ---------------------------------------------------------------------------------------------
// Keyed archive, writing.

class Archiver {
public:
    QByteArray archive(const QVariant& root)
    {
        objects_.push_back(PValue::makeString(QStringLiteral("$null")));
        const quint64 rootUid = encode(root, 0);

        PValue top = PValue::makeDict();
        top.insert(QStringLiteral("$version"), PValue::makeInt(100000));
        top.insert(QStringLiteral("$archiver"), PValue::makeString(QStringLiteral("NSKeyedArchiver")));
        PValue topDict = PValue::makeDict();
        topDict.insert(QStringLiteral("root"), PValue::makeUid(rootUid));
        top.insert(QStringLiteral("$top"), std::move(topDict));
        PValue objects = PValue::makeArray();
        objects.values = std::move(objects_);
        top.insert(QStringLiteral("$objects"), std::move(objects));
        return BinaryPlistWriter().write(top);
    }

private:
    quint64 scalar(PValue v)
    {
        const QByteArray key = scalarKey(v);
        auto it = unique_.constFind(key);
        if (it != unique_.constEnd()) return *it;
        const quint64 uid = push(std::move(v));
        unique_.insert(key, uid);
        return uid;
    }

    quint64 push(PValue v)
    {
        if (static_cast<qint64>(objects_.size()) >= KeyedArchive::kMaxExpandedValues)
            fail(QStringLiteral("more than %1 values to archive").arg(KeyedArchive::kMaxExpandedValues));
        objects_.push_back(std::move(v));
        return objects_.size() - 1;
    }

    quint64 classUid(const QString& name, const QStringList& classes)
    {
        auto it = classes_.constFind(name);
        if (it != classes_.constEnd()) return *it;
        PValue cd = PValue::makeDict();
        cd.insert(QStringLiteral("$classname"), PValue::makeString(name));
        PValue list = PValue::makeArray();
        for (const QString& c : classes) list.values.push_back(PValue::makeString(c));
        cd.insert(QStringLiteral("$classes"), std::move(list));
        const quint64 uid = push(std::move(cd));
        classes_.insert(name, uid);
        return uid;
    }

    // A container: its entry is reserved first, then its members are written, then its class,
    // the order in which the platform's archiver fills "$objects".
    template <typename Keys, typename Values>
    quint64 dictionary(const Keys& keys, const Values& values, int depth)
    {
        const quint64 uid = push(PValue());
        PValue keyArray = PValue::makeArray();
        PValue valueArray = PValue::makeArray();
        for (const QString& k : keys) keyArray.values.push_back(PValue::makeUid(encode(QVariant(k), depth + 1)));
        for (const QVariant& v : values) valueArray.values.push_back(PValue::makeUid(encode(v, depth + 1)));
        PValue entry = PValue::makeDict();
        entry.insert(QStringLiteral("NS.keys"), std::move(keyArray));
        entry.insert(QStringLiteral("NS.objects"), std::move(valueArray));
        entry.insert(QStringLiteral("$class"),
                     PValue::makeUid(classUid(QStringLiteral("NSDictionary"),
                                              {QStringLiteral("NSDictionary"), QStringLiteral("NSObject")})));
        objects_[uid] = std::move(entry);
        return uid;
    }

    template <typename List>
    quint64 array(const List& items, int depth)
    {
        const quint64 uid = push(PValue());
        PValue valueArray = PValue::makeArray();
        for (const auto& item : items) valueArray.values.push_back(PValue::makeUid(encode(QVariant(item), depth + 1)));
        PValue entry = PValue::makeDict();
        entry.insert(QStringLiteral("NS.objects"), std::move(valueArray));
        entry.insert(QStringLiteral("$class"),
                     PValue::makeUid(classUid(QStringLiteral("NSArray"),
                                              {QStringLiteral("NSArray"), QStringLiteral("NSObject")})));
        objects_[uid] = std::move(entry);
        return uid;
    }

    quint64 encode(const QVariant& value, int depth)
    {
        if (depth > KeyedArchive::kMaxDepth)
            fail(QStringLiteral("values nested deeper than %1 levels").arg(KeyedArchive::kMaxDepth));
        PValue v;
        switch (value.typeId()) {
        case QMetaType::Bool:
            v.type = PType::Bool;
            v.boolean = value.toBool();
            return scalar(std::move(v));
        case QMetaType::Int:
        case QMetaType::Short:
        case QMetaType::Char:
        case QMetaType::SChar:
        case QMetaType::Long:
        case QMetaType::LongLong:
            return scalar(PValue::makeInt(value.toLongLong()));
        case QMetaType::UInt:
        case QMetaType::UShort:
        case QMetaType::UChar:
        case QMetaType::ULong:
        case QMetaType::ULongLong: {
            const quint64 u = value.toULongLong();
            if (u <= quint64(std::numeric_limits<qint64>::max())) return scalar(PValue::makeInt(qint64(u)));
            v.type = PType::UInt;
            v.unsignedInteger = u;
            return scalar(std::move(v));
        }
        case QMetaType::Float:
            v.type = PType::Real32;
            v.real32 = value.toFloat();
            return scalar(std::move(v));
        case QMetaType::Double:
            v.type = PType::Real64;
            v.real64 = value.toDouble();
            return scalar(std::move(v));
        case QMetaType::QString:
            return scalar(PValue::makeString(value.toString()));
        case QMetaType::QByteArray:
            v.type = PType::Data;
            v.data = value.toByteArray();
            return scalar(std::move(v));
        case QMetaType::QVariantMap: {
            const QVariantMap map = value.toMap();
            return dictionary(map.keys(), map.values(), depth);
        }
        case QMetaType::QVariantHash: {
            const QVariantHash hash = value.toHash();
            QStringList keys;
            QVariantList values;
            for (auto it = hash.constBegin(); it != hash.constEnd(); ++it) {
                keys.append(it.key());
                values.append(it.value());
            }
            return dictionary(keys, values, depth);
        }
        case QMetaType::QVariantList:
            return array(value.toList(), depth);
        case QMetaType::QStringList:
            return array(value.toStringList(), depth);
        default:
            break;
        }
        if (!value.isValid()) fail(QStringLiteral("cannot archive a nil (invalid) value"));
        fail(QStringLiteral("cannot archive a value of type %1").arg(QString::fromLatin1(value.typeName())));
    }

    std::vector<PValue> objects_;
    QHash<QByteArray, quint64> unique_;
    QHash<QString, quint64> classes_;
};

void setError(QString* error, const QString& message)
{
    if (error) *error = message;
}

}  // namespace

std::optional<QVariant> KeyedArchive::unarchive(const QByteArray& data, QString* error)
{
    try {
        BinaryPlistReader reader(data);
        Unarchiver unarchiver(reader);
        QVariant root = unarchiver.decodeRoot();
        setError(error, QString());
        return root;
    } catch (const Failure& f) {
        setError(error, f.message);
    } catch (const std::bad_alloc&) {
        setError(error, QStringLiteral("out of memory while reading the archive"));
    }
    return std::nullopt;
}

std::optional<QVariantMap> KeyedArchive::unarchiveDictionary(const QByteArray& data, QString* error)
{
    std::optional<QVariant> root = unarchive(data, error);
    if (!root) return std::nullopt;
    if (root->typeId() != QMetaType::QVariantMap) {
        setError(error, QStringLiteral("the archive's root object is not a dictionary"));
        return std::nullopt;
    }
    return root->toMap();
}

QByteArray KeyedArchive::archive(const QVariant& root, QString* error)
{
    try {
        QByteArray out = Archiver().archive(root);
        setError(error, QString());
        return out;
    } catch (const Failure& f) {
        setError(error, f.message);
    } catch (const std::bad_alloc&) {
        setError(error, QStringLiteral("out of memory while writing the archive"));
    }
    return QByteArray();
}
