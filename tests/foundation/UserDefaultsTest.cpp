#include "UserDefaults.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace {

class UserDefaultsTest : public ::testing::Test {
protected:
    QString path(const QString& name = QStringLiteral("Kavio.conf")) const { return dir_.filePath(name); }

    // The same settings read afresh from the file: a copy under a new name, so that nothing
    // cached in this process answers for it.
    std::unique_ptr<UserDefaults> reread(UserDefaults& defaults)
    {
        EXPECT_TRUE(defaults.synchronize());
        const QString copy = path(QStringLiteral("copy%1.conf").arg(++copies_));
        EXPECT_TRUE(QFile::copy(defaults.filePath(), copy));
        return std::make_unique<UserDefaults>(copy);
    }

    QString fileText(const QString& file) const
    {
        QFile f(file);
        if (!f.open(QIODevice::ReadOnly)) return QString();
        return QString::fromUtf8(f.readAll());
    }

    QTemporaryDir dir_;
    int copies_ = 0;
};

TEST_F(UserDefaultsTest, TypedValuesSurviveTheFile)
{
    UserDefaults d(path());
    const QByteArray matte("\x00\x00\x00\x00\x00\x00\xf0\x3f\x00\x01,@", 12);
    const QVariantMap setup{{"timecodeFormat", qint32(3)}, {"volume", 0.75f}, {"offset", 3600.5},
                            {"enabled", true}, {"name", QStringLiteral("Main, left")},
                            {"map", QVariantList{qint32(1), qint32(0)}}};
    d.setBool(true, "autoStart");
    d.setBool(false, "displayTimeLeft");
    d.setInteger(-42, "playbackmode");
    d.setInteger(1L << 40, "big");
    d.setDouble(0.1, "fade");
    d.setFloat(0.25f, "gain");
    d.setString(QString::fromUtf8("@Variant, Schrift – ä"), "subtitlesFont");
    d.setData(matte, "matteColor");
    d.setDictionary(setup, "appSetup");
    d.setArray(QVariantList{qint32(4), 2.5, QStringLiteral("x"), false}, "PreferenceItemsStates");
    d.setArray(QVariantList{qint64(9)}, "one");
    d.setArray(QVariantList{}, "none");
    d.setObject(QStringList{"a", "b"}, "names");

    const std::unique_ptr<UserDefaults> again = reread(d);
    for (UserDefaults* r : {&d, again.get()}) {
        SCOPED_TRACE(r == &d ? "same object" : "read again");
        EXPECT_TRUE(r->boolForKey("autoStart"));
        EXPECT_FALSE(r->boolForKey("displayTimeLeft"));
        EXPECT_EQ(r->integerForKey("playbackmode"), -42);
        EXPECT_EQ(r->integerForKey("big"), 1L << 40);
        EXPECT_EQ(r->doubleForKey("fade"), 0.1);
        EXPECT_EQ(r->floatForKey("gain"), 0.25f);
        EXPECT_EQ(r->stringForKey("subtitlesFont"), QString::fromUtf8("@Variant, Schrift – ä"));
        EXPECT_EQ(r->dataForKey("matteColor"), matte);

        const QVariantMap s = r->dictionaryForKey("appSetup");
        EXPECT_EQ(s, setup);
        EXPECT_EQ(s["volume"].typeId(), QMetaType::Float);
        EXPECT_EQ(s["timecodeFormat"].typeId(), QMetaType::Int);

        const QVariantList states = r->arrayForKey("PreferenceItemsStates");
        ASSERT_EQ(states.size(), 4);
        EXPECT_EQ(states[0].typeId(), QMetaType::Int);
        EXPECT_EQ(states[1].typeId(), QMetaType::Double);
        EXPECT_EQ(states[3].typeId(), QMetaType::Bool);
        EXPECT_EQ(r->arrayForKey("one"), QVariantList{qint64(9)});
        EXPECT_TRUE(r->hasKey("none"));
        EXPECT_TRUE(r->arrayForKey("none").isEmpty());
        EXPECT_EQ(r->stringArrayForKey("names"), (QStringList{"a", "b"}));
    }
}

TEST_F(UserDefaultsTest, AbsentIsNotFalseOrZero)
{
    UserDefaults d(path());
    EXPECT_FALSE(d.hasKey("displayTRT"));
    EXPECT_FALSE(d.objectForKey("displayTRT").isValid());
    EXPECT_FALSE(d.boolForKey("displayTRT"));

    d.setBool(false, "displayTRT");
    d.setInteger(0, "playbackmode");
    EXPECT_TRUE(d.hasKey("displayTRT"));
    EXPECT_TRUE(d.hasKey("playbackmode"));
    EXPECT_TRUE(reread(d)->hasKey("playbackmode"));

    d.removeObjectForKey("displayTRT");
    EXPECT_FALSE(d.hasKey("displayTRT"));
    d.setObject(QVariant(), "playbackmode");  // an invalid value removes, as nil does
    EXPECT_FALSE(d.hasKey("playbackmode"));
    EXPECT_FALSE(reread(d)->hasKey("playbackmode"));
}

TEST_F(UserDefaultsTest, RegisteredDefaultsAnswerButAreNotWritten)
{
    UserDefaults d(path());
    d.registerDefaults({{"autoScrollToCurrentCue", true}, {"subtitlesSize", 42}, {"audioChannels", 2}});
    d.registerDefaults({{"audioChannels", 8}});
    EXPECT_TRUE(d.boolForKey("autoScrollToCurrentCue"));
    EXPECT_EQ(d.integerForKey("subtitlesSize"), 42);
    EXPECT_EQ(d.integerForKey("audioChannels"), 8);
    EXPECT_FALSE(d.hasKey("subtitlesSize"));

    d.setInteger(12, "subtitlesSize");
    EXPECT_EQ(d.integerForKey("subtitlesSize"), 12);  // a stored value wins
    ASSERT_TRUE(d.synchronize());
    const QString text = fileText(d.filePath());
    EXPECT_TRUE(text.contains("subtitlesSize"));
    EXPECT_FALSE(text.contains("autoScrollToCurrentCue"));
    EXPECT_FALSE(text.contains("audioChannels"));

    d.removeObjectForKey("subtitlesSize");
    EXPECT_EQ(d.integerForKey("subtitlesSize"), 42);  // back to the registered default
}

TEST_F(UserDefaultsTest, GettersConvertLikeThePlatform)
{
    UserDefaults d(path());
    d.setObject(QStringLiteral("12"), "text12");
    d.setObject(QStringLiteral("YES"), "yes");
    d.setObject(QStringLiteral("no"), "no");
    d.setDouble(2.7, "twoPointSeven");
    d.setInteger(5, "five");
    d.setBool(true, "on");

    EXPECT_EQ(d.integerForKey("text12"), 12);
    EXPECT_TRUE(d.boolForKey("text12"));
    EXPECT_TRUE(d.boolForKey("yes"));
    EXPECT_FALSE(d.boolForKey("no"));
    EXPECT_EQ(d.integerForKey("twoPointSeven"), 2);
    EXPECT_EQ(d.stringForKey("five"), "5");
    EXPECT_EQ(d.integerForKey("on"), 1);
    EXPECT_TRUE(d.dataForKey("five").isEmpty());
    EXPECT_TRUE(d.dictionaryForKey("five").isEmpty());
    EXPECT_TRUE(d.arrayForKey("five").isEmpty());

    // After the file is read again the scalars come back as text; the getters still convert.
    auto r = reread(d);
    EXPECT_EQ(r->objectForKey("five").typeId(), QMetaType::QString);
    EXPECT_EQ(r->integerForKey("five"), 5);
    EXPECT_EQ(r->integerForKey("on"), 1);
    EXPECT_TRUE(r->boolForKey("on"));
    EXPECT_EQ(r->doubleForKey("twoPointSeven"), 2.7);
}

TEST_F(UserDefaultsTest, LocationFollowsXdgConfigHome)
{
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    const bool wasSet = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");

    qputenv("XDG_CONFIG_HOME", dir_.path().toUtf8());
    {
        UserDefaults d;
        EXPECT_EQ(d.filePath(), dir_.path() + "/Kavio/Kavio.conf");
        d.setBool(true, "showStartupWindow");
        ASSERT_TRUE(d.synchronize());
        EXPECT_TRUE(QFile::exists(dir_.path() + "/Kavio/Kavio.conf"));
    }
    qputenv("XDG_CONFIG_HOME", "relative/path");
    EXPECT_EQ(UserDefaults::defaultFilePath(), QDir::homePath() + "/.config/Kavio/Kavio.conf");
    qunsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(UserDefaults::defaultFilePath(), QDir::homePath() + "/.config/Kavio/Kavio.conf");

    if (wasSet) qputenv("XDG_CONFIG_HOME", saved);
}

TEST_F(UserDefaultsTest, UsableFromSeveralThreads)
{
    UserDefaults d(path());
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&d, &wrong, t] {
            const QString key = QStringLiteral("key%1").arg(t);
            for (int i = 0; i < 200; ++i) {
                d.setInteger(i, key);
                if (d.integerForKey(key) != i) ++wrong;
                d.setBool(i % 2 == 0, QStringLiteral("shared"));
            }
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(d.integerForKey("key3"), 199);
}

}  // namespace
