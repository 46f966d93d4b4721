#include "KeyedArchive.h"
#include "MediaTime.h"

#include <gtest/gtest.h>
#include <plist/plist.h>

#include <QDateTime>
#include <QStringList>

#include <cstring>
#include <functional>
#include <initializer_list>
#include <limits>
#include <map>
#include <string>
#include <vector>

namespace {

// A property list in binary form, written by libplist; frees `node`.
QByteArray toBinary(plist_t node)
{
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(node, &bytes, &length);
    QByteArray out(bytes, static_cast<qsizetype>(length));
    plist_to_bin_free(bytes);
    plist_free(node);
    return out;
}

// Builds a keyed archive entry by entry with libplist (an independent property-list writer), in
// the layout the platform's archiver uses: "$null" first, a container's entry reserved before
// its members, its class entry after them, classes shared by name.
class ArchiveBuilder {
public:
    ArchiveBuilder() : objects_(plist_new_array()) { add(plist_new_string("$null")); }
    ~ArchiveBuilder()
    {
        if (objects_) plist_free(objects_);
    }

    uint64_t add(plist_t node)
    {
        plist_array_append_item(objects_, node);
        return plist_array_get_size(objects_) - 1;
    }
    uint64_t string(const char* s) { return add(plist_new_string(s)); }
    uint64_t integer(int64_t i) { return add(plist_new_uint(static_cast<uint64_t>(i))); }
    uint64_t reserve() { return add(plist_new_string("(reserved)")); }
    void set(uint64_t uid, plist_t node) { plist_array_set_item(objects_, node, static_cast<uint32_t>(uid)); }

    uint64_t cls(const std::string& name)
    {
        auto it = classes_.find(name);
        if (it != classes_.end()) return it->second;
        plist_t d = plist_new_dict();
        plist_dict_set_item(d, "$classname", plist_new_string(name.c_str()));
        plist_t list = plist_new_array();
        for (const std::string& c : hierarchy(name)) plist_array_append_item(list, plist_new_string(c.c_str()));
        plist_dict_set_item(d, "$classes", list);
        const uint64_t uid = add(d);
        classes_[name] = uid;
        return uid;
    }

    static plist_t uids(const std::vector<uint64_t>& list)
    {
        plist_t a = plist_new_array();
        for (uint64_t u : list) plist_array_append_item(a, plist_new_uid(u));
        return a;
    }

    // Fills a reserved entry as a dictionary of the given class.
    void dictionary(uint64_t uid, const std::string& className, const std::vector<uint64_t>& keys,
                    const std::vector<uint64_t>& values)
    {
        plist_t d = plist_new_dict();
        plist_dict_set_item(d, "NS.keys", uids(keys));
        plist_dict_set_item(d, "NS.objects", uids(values));
        plist_dict_set_item(d, "$class", plist_new_uid(cls(className)));
        set(uid, d);
    }
    void array(uint64_t uid, const std::string& className, const std::vector<uint64_t>& values)
    {
        plist_t d = plist_new_dict();
        plist_dict_set_item(d, "NS.objects", uids(values));
        plist_dict_set_item(d, "$class", plist_new_uid(cls(className)));
        set(uid, d);
    }
    // An object of any class with one field.
    uint64_t instance(const std::string& className, const char* field, plist_t value)
    {
        const uint64_t uid = reserve();
        plist_t d = plist_new_dict();
        plist_dict_set_item(d, field, value);
        plist_dict_set_item(d, "$class", plist_new_uid(cls(className)));
        set(uid, d);
        return uid;
    }

    // The archive with `root` as "$top"/"root"; `tweak` may change the top dictionary first.
    QByteArray finish(uint64_t root, const std::function<void(plist_t)>& tweak = {})
    {
        plist_t top = plist_new_dict();
        plist_dict_set_item(top, "$version", plist_new_uint(100000));
        plist_dict_set_item(top, "$archiver", plist_new_string("NSKeyedArchiver"));
        plist_t topDict = plist_new_dict();
        plist_dict_set_item(topDict, "root", plist_new_uid(root));
        plist_dict_set_item(top, "$top", topDict);
        plist_dict_set_item(top, "$objects", objects_);
        objects_ = nullptr;
        if (tweak) tweak(top);
        return toBinary(top);
    }

private:
    static std::vector<std::string> hierarchy(const std::string& name)
    {
        static const std::map<std::string, std::vector<std::string>> known = {
            {"NSDictionary", {"NSDictionary", "NSObject"}},
            {"NSMutableDictionary", {"NSMutableDictionary", "NSDictionary", "NSObject"}},
            {"NSArray", {"NSArray", "NSObject"}},
            {"NSMutableArray", {"NSMutableArray", "NSArray", "NSObject"}},
            {"NSMutableString", {"NSMutableString", "NSString", "NSObject"}},
            {"NSMutableData", {"NSMutableData", "NSData", "NSObject"}},
        };
        auto it = known.find(name);
        return it != known.end() ? it->second : std::vector<std::string>{name, "NSObject"};
    }

    plist_t objects_;
    std::map<std::string, uint64_t> classes_;
};

QByteArray bytes(const char* s, int n) { return QByteArray(s, n); }

// A record as the platform archiver writes it, with the mutable and immutable class names both.
QByteArray platformFixture()
{
    ArchiveBuilder b;
    const uint64_t root = b.reserve();
    const char* names[] = {"name", "title", "bookmark", "crop", "count", "negative", "big",
                           "volume", "rate", "flag", "channelmap", "list", "cue", "empty", "alias"};
    std::vector<uint64_t> keys;
    for (const char* n : names) keys.push_back(b.string(n));

    std::vector<uint64_t> values;
    const uint64_t gala = b.string("Gala");
    values.push_back(gala);
    values.push_back(b.instance("NSMutableString", "NS.string", plist_new_string("Überschrift")));
    values.push_back(b.add(plist_new_data("\x00\x01\x02", 3)));
    values.push_back(b.instance("NSMutableData", "NS.data", plist_new_data("0123456789abcdef", 16)));
    values.push_back(b.integer(42));
    values.push_back(b.integer(-5));
    values.push_back(b.integer(int64_t(1) << 40));
    values.push_back(b.add(plist_new_real(0.5)));   // libplist writes it as a 4-byte real
    values.push_back(b.add(plist_new_real(0.1)));   // and this as an 8-byte real
    values.push_back(b.add(plist_new_bool(1)));

    const uint64_t channelmap = b.reserve();
    b.array(channelmap, "NSArray", {b.integer(1), b.integer(2), b.integer(0)});
    values.push_back(channelmap);

    const uint64_t list = b.reserve();
    const uint64_t a = b.string("a");
    const uint64_t inner = b.reserve();
    b.dictionary(inner, "NSDictionary", {b.string("k")}, {b.add(plist_new_bool(0))});
    b.array(list, "NSMutableArray", {a, inner});
    values.push_back(list);

    const uint64_t cue = b.reserve();
    const QByteArray inTime = MediaTime::make(300, 600).toData();
    const uint64_t inKey = b.string("_intime");
    const uint64_t loopKey = b.string("loopcount");
    b.dictionary(cue, "NSDictionary", {inKey, loopKey},
                 {b.add(plist_new_data(inTime.constData(), static_cast<uint64_t>(inTime.size()))),
                  b.integer(2147483647)});
    values.push_back(cue);

    const uint64_t empty = b.reserve();
    b.dictionary(empty, "NSMutableDictionary", {}, {});
    values.push_back(empty);
    values.push_back(gala);  // one string object shared by two keys

    b.dictionary(root, "NSMutableDictionary", keys, values);
    return b.finish(root);
}

TEST(KeyedArchive, ReadsWhatThePlatformArchiverWrites)
{
    QString error;
    const auto root = KeyedArchive::unarchiveDictionary(platformFixture(), &error);
    ASSERT_TRUE(root) << error.toStdString();
    const QVariantMap& r = *root;
    EXPECT_EQ(r.size(), 15);

    EXPECT_EQ(r["name"].typeId(), QMetaType::QString);
    EXPECT_EQ(r["name"].toString(), "Gala");
    EXPECT_EQ(r["alias"].toString(), "Gala");
    EXPECT_EQ(r["title"].typeId(), QMetaType::QString);
    EXPECT_EQ(r["title"].toString(), QString::fromUtf8("Überschrift"));
    EXPECT_EQ(r["bookmark"].typeId(), QMetaType::QByteArray);
    EXPECT_EQ(r["bookmark"].toByteArray(), bytes("\x00\x01\x02", 3));
    EXPECT_EQ(r["crop"].typeId(), QMetaType::QByteArray);
    EXPECT_EQ(r["crop"].toByteArray(), QByteArray("0123456789abcdef"));

    EXPECT_EQ(r["count"].typeId(), QMetaType::LongLong);
    EXPECT_EQ(r["count"].toLongLong(), 42);
    EXPECT_EQ(r["negative"].toLongLong(), -5);
    EXPECT_EQ(r["big"].toLongLong(), int64_t(1) << 40);
    EXPECT_EQ(r["volume"].typeId(), QMetaType::Float);
    EXPECT_EQ(r["volume"].toFloat(), 0.5f);
    EXPECT_EQ(r["rate"].typeId(), QMetaType::Double);
    EXPECT_EQ(r["rate"].toDouble(), 0.1);
    EXPECT_EQ(r["flag"].typeId(), QMetaType::Bool);
    EXPECT_TRUE(r["flag"].toBool());

    EXPECT_EQ(r["channelmap"].toList(), (QVariantList{qint64(1), qint64(2), qint64(0)}));
    const QVariantList list = r["list"].toList();
    ASSERT_EQ(list.size(), 2);
    EXPECT_EQ(list[0].toString(), "a");
    EXPECT_EQ(list[1].toMap()["k"].typeId(), QMetaType::Bool);
    EXPECT_FALSE(list[1].toMap()["k"].toBool());

    const QVariantMap cue = r["cue"].toMap();
    EXPECT_EQ(MediaTime::fromData(cue["_intime"].toByteArray()).seconds(), 0.5);
    EXPECT_EQ(cue["loopcount"].toInt(), 2147483647);
    EXPECT_EQ(r["empty"].typeId(), QMetaType::QVariantMap);
    EXPECT_TRUE(r["empty"].toMap().isEmpty());
}

// Compares a written value with what was read back: the same value and the same kind, where
// every integer reads back as qint64 except an unsigned one above INT64_MAX (quint64).
void expectSameValue(const QVariant& written, const QVariant& read, const std::string& path)
{
    SCOPED_TRACE(path);
    switch (written.typeId()) {
    case QMetaType::QVariantMap: {
        ASSERT_EQ(read.typeId(), QMetaType::QVariantMap);
        const QVariantMap w = written.toMap();
        const QVariantMap r = read.toMap();
        ASSERT_EQ(w.keys(), r.keys());
        for (auto it = w.constBegin(); it != w.constEnd(); ++it)
            expectSameValue(it.value(), r.value(it.key()), path + "/" + it.key().toStdString());
        return;
    }
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
        ASSERT_EQ(read.typeId(), QMetaType::QVariantList);
        const QVariantList w = written.toList();
        const QVariantList r = read.toList();
        ASSERT_EQ(w.size(), r.size());
        for (qsizetype i = 0; i < w.size(); ++i) expectSameValue(w[i], r[i], path + "/" + std::to_string(i));
        return;
    }
    case QMetaType::ULongLong:
        if (written.toULongLong() > quint64(std::numeric_limits<qint64>::max())) {
            ASSERT_EQ(read.typeId(), QMetaType::ULongLong);
            EXPECT_EQ(read.toULongLong(), written.toULongLong());
            return;
        }
        [[fallthrough]];
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
        ASSERT_EQ(read.typeId(), QMetaType::LongLong);
        EXPECT_EQ(read.toLongLong(), written.toLongLong());
        return;
    case QMetaType::Float: {
        ASSERT_EQ(read.typeId(), QMetaType::Float);
        const float w = written.toFloat();
        const float r = read.toFloat();
        EXPECT_EQ(std::memcmp(&w, &r, sizeof w), 0) << w << " read as " << r;
        return;
    }
    case QMetaType::Double: {
        ASSERT_EQ(read.typeId(), QMetaType::Double);
        const double w = written.toDouble();
        const double r = read.toDouble();
        EXPECT_EQ(std::memcmp(&w, &r, sizeof w), 0) << w << " read as " << r;
        return;
    }
    default:
        ASSERT_EQ(read.typeId(), written.typeId());
        EXPECT_EQ(read, written);
    }
}

QVariantMap nestedRecord()
{
    QVariantMap cue;
    cue["mediaPath"] = QStringLiteral("/media/show/clip one.mov");
    cue["displayTitle"] = QString();
    cue["cuenotes"] = QString::fromUtf8("Bühne – links 🎭");
    cue["_intime"] = MediaTime::make(-1200, 600).toData();
    cue["geometrycrop"] = QByteArray(16, '\0');
    cue["empty"] = QByteArray();
    cue["loopcount"] = qint32(2147483647);
    cue["index"] = qint32(-3);
    cue["uidnumber"] = qint64(-9000000000LL);
    cue["frames"] = quint64(18000000000000000000ULL);
    cue["small"] = quint64(7);
    cue["sixteen"] = quint32(4000000000U);
    cue["opacity"] = 0.5f;
    cue["tiny"] = 1e-40f;
    cue["hue"] = -0.0f;
    cue["duration"] = 0.5;        // exactly a float too: must stay an 8-byte real
    cue["fadetime"] = 2.0 / 3.0;
    cue["inf"] = std::numeric_limits<double>::infinity();
    cue["fadein"] = true;
    cue["fadeout"] = false;
    cue["channelmap"] = QVariantList{qint32(1), qint32(2), qint32(0), qint32(0)};
    cue["names"] = QStringList{QStringLiteral("a"), QStringLiteral("a"), QString()};

    QVariantMap playlist;
    playlist["1"] = cue;
    cue["index"] = qint32(2);
    playlist["2"] = cue;

    QVariantMap root;
    root["playlistData"] = playlist;
    root["QLData"] = QVariantMap();
    root["nested"] = QVariantList{QVariantList{QVariantList{}}, QVariantMap{{"x", QVariantList{true}}}};
    return root;
}

TEST(KeyedArchive, RoundTripKeepsEveryValueAndNumberKind)
{
    const QVariantMap record = nestedRecord();
    QString error;
    const QByteArray data = KeyedArchive::archive(record, &error);
    ASSERT_FALSE(data.isEmpty()) << error.toStdString();
    const auto back = KeyedArchive::unarchive(data, &error);
    ASSERT_TRUE(back) << error.toStdString();
    expectSameValue(record, *back, "root");

    // Written again, the archive is the same bytes.
    EXPECT_EQ(KeyedArchive::archive(*back), data);
}

TEST(KeyedArchive, WritesRealsByKindNotByValue)
{
    const QByteArray asDouble = KeyedArchive::archive(QVariantMap{{"v", 0.5}});
    const QByteArray asFloat = KeyedArchive::archive(QVariantMap{{"v", 0.5f}});
    EXPECT_TRUE(asDouble.contains(bytes("\x23\x3f\xe0\x00\x00\x00\x00\x00\x00", 9)));
    EXPECT_FALSE(asDouble.contains(bytes("\x22\x3f\x00\x00\x00", 5)));
    EXPECT_TRUE(asFloat.contains(bytes("\x22\x3f\x00\x00\x00", 5)));
    // An unsigned value above INT64_MAX is a 16-byte integer with a zero high half.
    const QByteArray big = KeyedArchive::archive(QVariantMap{{"v", quint64(0x8000000000000001ULL)}});
    EXPECT_TRUE(big.contains(bytes("\x14\0\0\0\0\0\0\0\0\x80\0\0\0\0\0\0\x01", 17)));
}

// Reads our archive with libplist, an independent reader, and checks the platform's layout.
TEST(KeyedArchive, WritesThePlatformArchiverLayout)
{
    const QVariantMap record{{"a", QStringLiteral("x")}, {"b", QStringLiteral("x")},
                             {"list", QVariantList{qint32(1)}}};
    const QByteArray data = KeyedArchive::archive(record);
    ASSERT_TRUE(data.startsWith("bplist00"));

    plist_t top = nullptr;
    plist_from_bin(data.constData(), static_cast<uint32_t>(data.size()), &top);
    ASSERT_NE(top, nullptr);
    auto str = [](plist_t node) {
        char* s = nullptr;
        plist_get_string_val(node, &s);
        std::string out = s ? s : "";
        free(s);
        return out;
    };
    auto uid = [](plist_t node) {
        uint64_t u = 0;
        EXPECT_EQ(plist_get_node_type(node), PLIST_UID);
        plist_get_uid_val(node, &u);
        return u;
    };
    auto integer = [](plist_t node) {
        uint64_t u = 0;
        plist_get_uint_val(node, &u);
        return u;
    };
    EXPECT_EQ(str(plist_dict_get_item(top, "$archiver")), "NSKeyedArchiver");
    EXPECT_EQ(integer(plist_dict_get_item(top, "$version")), 100000u);
    EXPECT_EQ(uid(plist_dict_get_item(plist_dict_get_item(top, "$top"), "root")), 1u);

    plist_t objects = plist_dict_get_item(top, "$objects");
    // "$null", the root, its keys "a" "b" "list", the one shared "x", the array, 1, the
    // array's class, then the dictionary's class.
    ASSERT_EQ(plist_array_get_size(objects), 10u);
    EXPECT_EQ(str(plist_array_get_item(objects, 0)), "$null");
    plist_t rootEntry = plist_array_get_item(objects, 1);
    plist_t keys = plist_dict_get_item(rootEntry, "NS.keys");
    plist_t values = plist_dict_get_item(rootEntry, "NS.objects");
    ASSERT_EQ(plist_array_get_size(keys), 3u);
    EXPECT_EQ(uid(plist_array_get_item(values, 0)), uid(plist_array_get_item(values, 1)));

    plist_t rootClass = plist_array_get_item(objects, static_cast<uint32_t>(uid(plist_dict_get_item(rootEntry, "$class"))));
    EXPECT_EQ(uid(plist_dict_get_item(rootEntry, "$class")), 9u);  // after the contents
    EXPECT_EQ(str(plist_dict_get_item(rootClass, "$classname")), "NSDictionary");
    plist_t classes = plist_dict_get_item(rootClass, "$classes");
    ASSERT_EQ(plist_array_get_size(classes), 2u);
    EXPECT_EQ(str(plist_array_get_item(classes, 0)), "NSDictionary");
    EXPECT_EQ(str(plist_array_get_item(classes, 1)), "NSObject");

    plist_t arrayEntry = plist_array_get_item(objects, static_cast<uint32_t>(uid(plist_array_get_item(values, 2))));
    plist_t arrayClass = plist_array_get_item(objects, static_cast<uint32_t>(uid(plist_dict_get_item(arrayEntry, "$class"))));
    EXPECT_EQ(str(plist_dict_get_item(arrayClass, "$classname")), "NSArray");
    EXPECT_EQ(plist_dict_get_item(arrayEntry, "NS.keys"), nullptr);
    plist_free(top);
}

struct BadArchive {
    const char* name;
    std::function<QByteArray()> make;
    const char* error;  // a part of the expected error text
};

QByteArray nestedArrays(int depth)
{
    ArchiveBuilder b;
    std::vector<uint64_t> uids;
    for (int i = 0; i < depth; ++i) uids.push_back(b.reserve());
    for (int i = 0; i < depth; ++i) {
        std::vector<uint64_t> members;
        if (i + 1 < depth) members.push_back(uids[i + 1]);
        b.array(uids[i], "NSArray", members);
    }
    return b.finish(uids[0]);
}

// `chain` nested arrays shared by the root array directly and again at the end of `prefix`
// further nested arrays: the shared chain is first decoded near the top and then reached again
// `prefix` levels further down.
QByteArray sharedChainReachedDeeper(int chain, int prefix)
{
    ArchiveBuilder b;
    const uint64_t root = b.reserve();
    std::vector<uint64_t> shared;
    for (int i = 0; i < chain; ++i) shared.push_back(b.reserve());
    for (int i = 0; i < chain; ++i)
        b.array(shared[i], "NSArray", i + 1 < chain ? std::vector<uint64_t>{shared[i + 1]} : std::vector<uint64_t>{});
    uint64_t next = shared[0];
    for (int i = 0; i < prefix; ++i) {
        const uint64_t a = b.reserve();
        b.array(a, "NSArray", {next});
        next = a;
    }
    b.array(root, "NSArray", {shared[0], next});
    return b.finish(root);
}

// A binary property list written object by object, so that several "$objects" entries can name
// one property-list object, which no writer at hand does. References are two bytes wide.
class RawPlist {
public:
    int add(const QByteArray& encoded)
    {
        objects_.push_back(encoded);
        return int(objects_.size()) - 1;
    }
    int string(const QByteArray& s) { return add(marker(0x5, s.size()) + s); }
    int integer(uint32_t v) { return add(QByteArray("\x12", 1) + be(v, 4)); }
    int uid(uint16_t v) { return add(QByteArray("\x81", 1) + be(v, 2)); }
    int array(const std::vector<int>& refs) { return add(marker(0xa, qsizetype(refs.size())) + refBytes(refs)); }
    int dict(const std::vector<int>& keys, const std::vector<int>& values)
    {
        return add(marker(0xd, qsizetype(keys.size())) + refBytes(keys) + refBytes(values));
    }

    QByteArray finish(int top) const
    {
        QByteArray out("bplist00");
        QByteArray table;
        for (const QByteArray& o : objects_) {
            table += be(uint64_t(out.size()), 4);
            out += o;
        }
        const uint64_t tableOffset = uint64_t(out.size());
        out += table;
        out += QByteArray(6, '\0');
        out += char(4);  // offset width
        out += char(2);  // reference width
        out += be(objects_.size(), 8) + be(uint64_t(top), 8) + be(tableOffset, 8);
        return out;
    }

    // An archive whose "$objects" lists `entries` (property-list objects; "$null" is put first)
    // and whose root is UID 1.
    QByteArray archive(const std::vector<int>& entries)
    {
        std::vector<int> all{string("$null")};
        all.insert(all.end(), entries.begin(), entries.end());
        const int top = dict({string("$archiver"), string("$version"), string("$top"), string("$objects")},
                             {string("NSKeyedArchiver"), integer(100000), dict({string("root")}, {uid(1)}), array(all)});
        return finish(top);
    }

private:
    static QByteArray be(uint64_t v, int width)
    {
        QByteArray b;
        for (int i = width - 1; i >= 0; --i) b += char((v >> (8 * i)) & 0xff);
        return b;
    }
    static QByteArray marker(int high, qsizetype count)
    {
        if (count < 15) return QByteArray(1, char((high << 4) | int(count)));
        return QByteArray(1, char((high << 4) | 0x0f)) + QByteArray("\x11", 1) + be(uint64_t(count), 2);
    }
    static QByteArray refBytes(const std::vector<int>& refs)
    {
        QByteArray b;
        for (int r : refs) b += be(uint64_t(r), 2);
        return b;
    }

    std::vector<QByteArray> objects_;
};

// A root array of `references` UIDs that all name one property-list object: an empty NSArray
// carrying `junkKeys` extra keys before its "NS.objects" and "$class".
QByteArray oneObjectUnderManyUIDs(int references, int junkKeys)
{
    RawPlist p;
    const int classUid = references + 2;
    std::vector<int> keys, values;
    const int filler = p.integer(0);
    for (int i = 0; i < junkKeys; ++i) {
        keys.push_back(p.string(QByteArray::number(i).rightJustified(10, 'k')));
        values.push_back(filler);
    }
    keys.push_back(p.string("NS.objects"));
    values.push_back(p.array({}));
    keys.push_back(p.string("$class"));
    values.push_back(p.uid(uint16_t(classUid)));
    const int shared = p.dict(keys, values);

    std::vector<int> memberUids;
    for (int i = 0; i < references; ++i) memberUids.push_back(p.uid(uint16_t(2 + i)));
    const int root = p.dict({p.string("NS.objects"), p.string("$class")}, {p.array(memberUids), p.uid(uint16_t(classUid))});
    std::vector<int> entries{root};
    entries.insert(entries.end(), size_t(references), shared);
    entries.push_back(p.dict({p.string("$classname")}, {p.string("NSArray")}));
    return p.archive(entries);
}

// A root array of `containers` distinct NSArrays that all list one property-list array of
// `members` UIDs of one string: each container is its own object, so each is built in full.
QByteArray distinctContainersSharingTheirMembers(int containers, int members)
{
    RawPlist p;
    const int classUid = 2, stringUid = 3;
    const int memberList = p.array(std::vector<int>(size_t(members), p.uid(uint16_t(stringUid))));
    std::vector<int> entries{0, p.dict({p.string("$classname")}, {p.string("NSArray")}), p.string("x")};
    std::vector<int> containerUids;
    for (int i = 0; i < containers; ++i) {
        containerUids.push_back(p.uid(uint16_t(entries.size() + 1)));
        entries.push_back(p.dict({p.string("NS.objects"), p.string("$class")}, {memberList, p.uid(classUid)}));
    }
    entries[0] = p.dict({p.string("NS.objects"), p.string("$class")}, {p.array(containerUids), p.uid(classUid)});
    return p.archive(entries);
}

QByteArray rootWith(const std::function<uint64_t(ArchiveBuilder&)>& value)
{
    ArchiveBuilder b;
    const uint64_t root = b.reserve();
    const uint64_t key = b.string("key");
    b.dictionary(root, "NSDictionary", {key}, {value(b)});
    return b.finish(root);
}

std::vector<BadArchive> badArchives()
{
    return {
        {"date object", [] { return rootWith([](ArchiveBuilder& b) { return b.instance("NSDate", "NS.time", plist_new_real(1.0)); }); },
         "unsupported class NSDate"},
        {"plain date", [] { return rootWith([](ArchiveBuilder& b) { return b.add(plist_new_date(100, 0)); }); },
         "unexpected date"},
        {"unknown class", [] { return rootWith([](ArchiveBuilder& b) { return b.instance("KavioWidget", "NS.string", plist_new_string("x")); }); },
         "unsupported class KavioWidget"},
        {"UID out of range", [] { return rootWith([](ArchiveBuilder&) { return uint64_t(99); }); }, "out of range"},
        {"nil in a container", [] { return rootWith([](ArchiveBuilder&) { return uint64_t(0); }); }, "nil"},
        {"reference cycle", [] {
             ArchiveBuilder b;
             const uint64_t a = b.reserve();
             const uint64_t inner = b.reserve();
             b.array(inner, "NSMutableArray", {a});
             b.array(a, "NSArray", {inner});
             return b.finish(a);
         }, "cycle"},
        {"absurd depth", [] { return nestedArrays(KeyedArchive::kMaxDepth + 100); }, "deeper"},
        // Once refused only where the shared chain was first decoded: such a file opened as a
        // value that could never be saved again, nor released without overflowing the stack.
        {"shared object reached deeper than the limit", [] {
             return sharedChainReachedDeeper(KeyedArchive::kMaxDepth / 2 + 10, KeyedArchive::kMaxDepth / 2 + 10);
         }, "deeper"},
        // Every lookup of the shared object's fields passes over its junk keys once per UID:
        // that work counts against the budget (a 60 KB file of this shape once took seconds).
        {"one object under many UIDs, with many keys", [] { return oneObjectUnderManyUIDs(1200, 1000); }, "expands"},
        // A 125 KB file of this shape once took seconds and half a gigabyte to read.
        {"distinct containers sharing one long member list", [] { return distinctContainersSharingTheirMembers(300, 4000); }, "expands"},
        {"shared objects expanding without end", [] {
             ArchiveBuilder b;
             uint64_t next = b.string("leaf");
             for (int i = 0; i < 40; ++i) {
                 const uint64_t a = b.reserve();
                 b.array(a, "NSArray", {next, next});
                 next = a;
             }
             return b.finish(next);
         }, "expands"},
        {"dictionary key not a string", [] {
             ArchiveBuilder b;
             const uint64_t root = b.reserve();
             b.dictionary(root, "NSDictionary", {b.integer(1)}, {b.string("v")});
             return b.finish(root);
         }, "key"},
        {"object without class", [] { return rootWith([](ArchiveBuilder& b) {
             plist_t d = plist_new_dict();
             plist_dict_set_item(d, "NS.string", plist_new_string("x"));
             return b.add(d); }); }, "$class"},
        {"root not found", [] {
             ArchiveBuilder b;
             return b.finish(b.string("x"), [](plist_t top) { plist_dict_set_item(top, "$top", plist_new_dict()); });
         }, "root object not found"},
        {"other archiver", [] {
             ArchiveBuilder b;
             return b.finish(b.string("x"), [](plist_t top) { plist_dict_set_item(top, "$archiver", plist_new_string("Other")); });
         }, "$archiver"},
        {"plain property list", [] {
             plist_t a = plist_new_array();
             plist_array_append_item(a, plist_new_string("x"));
             return toBinary(a);
         }, "not a keyed archive"},
        {"not a property list", [] { return QByteArray("hello, this is not an archive"); }, "not a binary property list"},
        {"XML property list", [] { return QByteArray("<?xml version=\"1.0\"?><plist><dict/></plist>"); }, "not a binary property list"},
        {"no bytes", [] { return QByteArray(); }, "not a binary property list"},
        {"header only", [] { return QByteArray("bplist00"); }, "truncated"},
    };
}

TEST(KeyedArchive, RefusesBadArchivesWithAnError)
{
    for (const BadArchive& c : badArchives()) {
        SCOPED_TRACE(c.name);
        QString error;
        const auto result = KeyedArchive::unarchive(c.make(), &error);
        EXPECT_FALSE(result.has_value());
        EXPECT_TRUE(error.contains(QString::fromLatin1(c.error))) << error.toStdString();
    }
}

TEST(KeyedArchive, ReadsNestingUpToTheLimit)
{
    QString error;
    const auto result = KeyedArchive::unarchive(nestedArrays(KeyedArchive::kMaxDepth), &error);
    ASSERT_TRUE(result) << error.toStdString();

    // A shared chain reached at exactly the limit reads, and writes back.
    const int chain = KeyedArchive::kMaxDepth / 2;
    const auto shared = KeyedArchive::unarchive(sharedChainReachedDeeper(chain, KeyedArchive::kMaxDepth - chain), &error);
    ASSERT_TRUE(shared) << error.toStdString();
    EXPECT_FALSE(KeyedArchive::archive(*shared, &error).isEmpty()) << error.toStdString();
}

TEST(KeyedArchive, ManyUIDsNamingOneObjectReadAsThatValueEachTime)
{
    QString error;
    const auto result = KeyedArchive::unarchive(oneObjectUnderManyUIDs(3000, 2), &error);
    ASSERT_TRUE(result) << error.toStdString();
    const QVariantList list = result->toList();
    ASSERT_EQ(list.size(), 3000);
    EXPECT_EQ(list.first(), QVariant(QVariantList{}));
    EXPECT_EQ(list.last(), QVariant(QVariantList{}));
}

TEST(KeyedArchive, TruncatedOrDamagedBytesGiveErrorsNotCrashes)
{
    const QByteArray good = platformFixture();
    ASSERT_TRUE(KeyedArchive::unarchive(good));

    for (qsizetype n = 0; n < good.size(); ++n) {
        QString error;
        EXPECT_FALSE(KeyedArchive::unarchive(good.left(n), &error)) << "cut at " << n;
        EXPECT_FALSE(error.isEmpty());
    }
    // Every byte replaced by a few values: the reader answers (a value or an error), no crash.
    const char replacements[] = {'\x00', '\x01', '\x0f', '\x7f', '\x80', '\xaf', '\xdf', '\xff'};
    int errors = 0;
    for (qsizetype i = 0; i < good.size(); ++i) {
        for (char r : replacements) {
            QByteArray damaged = good;
            damaged[i] = r;
            QString error;
            if (!KeyedArchive::unarchive(damaged, &error)) {
                ++errors;
                EXPECT_FALSE(error.isEmpty());
            }
        }
    }
    EXPECT_GT(errors, 0);
}

TEST(KeyedArchive, RefusesToWriteWhatItCannotRepresent)
{
    QVariant deep = QVariantList{};
    for (int i = 0; i < KeyedArchive::kMaxDepth + 10; ++i) deep = QVariantList{deep};

    const struct {
        const char* name;
        QVariant value;
        const char* error;
    } cases[] = {
        {"date", QVariantMap{{"when", QDateTime::currentDateTimeUtc()}}, "QDateTime"},
        {"nil", QVariant(), "nil"},
        {"nil inside", QVariantList{QVariant()}, "nil"},
        {"absurd depth", deep, "deeper"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QString error;
        EXPECT_TRUE(KeyedArchive::archive(c.value, &error).isEmpty());
        EXPECT_TRUE(error.contains(QString::fromLatin1(c.error))) << error.toStdString();
    }
}

TEST(KeyedArchive, UnarchiveDictionaryWantsADictionaryRoot)
{
    QString error;
    EXPECT_FALSE(KeyedArchive::unarchiveDictionary(KeyedArchive::archive(QVariantList{1}), &error));
    EXPECT_TRUE(error.contains("not a dictionary"));
    EXPECT_TRUE(KeyedArchive::unarchiveDictionary(KeyedArchive::archive(QVariantMap{}), &error));
}

}  // namespace
