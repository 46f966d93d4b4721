#include "Log.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

TEST(Log, ShortFunctionNameKeepsClassAndMethod)
{
    struct Case {
        const char* pretty;
        const char* expected;
    };
    const Case cases[] = {
        {"void KavioAudioPlayer::startPlayback()", "KavioAudioPlayer::startPlayback"},
        {"static QVTClock& QVTClock::shared(int, double) const", "QVTClock::shared"},
        {"std::map<int, long int> Foo::bar(std::vector<int>)", "Foo::bar"},
        {"Foo::Foo(int)", "Foo::Foo"},
        {"Foo::run()::<lambda()>", "Foo::run"},
        {"int main(int, char**)", "main"},
        {"const char* ns::Foo::operator()(int) const", "ns::Foo::operator()"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(KavioLog::shortFunctionName(c.pretty), c.expected) << c.pretty;
    }
}

TEST(Log, FileLoggingWritesUnderTheStateFolderWithFunctionFileAndLine)
{
    const auto dir = std::filesystem::temp_directory_path() / ("kavio-log-test-" + std::to_string(::getpid()));
    setenv("XDG_STATE_HOME", dir.c_str(), 1);
    const std::string logDir = KavioLog::setupFileLogging();
    ASSERT_EQ(logDir, (dir / "Kavio" / "logs").string());
    KLOG_ERROR("marker {}", 12345);
    KavioLog::logger().flush();

    std::string contents;
    for (const auto& entry : std::filesystem::directory_iterator(logDir)) {
        std::FILE* f = std::fopen(entry.path().c_str(), "r");
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
            contents.append(buf, n);
        }
        std::fclose(f);
    }
    EXPECT_NE(contents.find("marker 12345"), std::string::npos);
    EXPECT_NE(contents.find("error"), std::string::npos);
    EXPECT_NE(contents.find("Log_FileLoggingWritesUnderTheStateFolderWithFunctionFileAndLine_Test::TestBody"),
              std::string::npos);
    EXPECT_NE(contents.find("LogTest.cpp:"), std::string::npos);
    KavioLog::logger().sinks().pop_back();
    std::filesystem::remove_all(dir);
}

TEST(Log, VerboseEntriesAppearOnlyWhenVerboseIsOn)
{
    auto& log = KavioLog::logger();
    EXPECT_FALSE(log.should_log(spdlog::level::trace));
    KavioLog::setVerbose(true);
    EXPECT_TRUE(log.should_log(spdlog::level::trace));
    KavioLog::setVerbose(false);
    EXPECT_FALSE(log.should_log(spdlog::level::trace));
}
