// The source directory over a scripted finder: what it lists, finds and announces.
#include "NdiTestSupport.h"
#include "NotificationCenter.h"
#include "StrevalDirectory.h"

#include <gtest/gtest.h>

namespace {

QVariantMap entry(const char* name, const char* address)
{
    return {{StrevalDirectory::kSourceName, name}, {StrevalDirectory::kSourceIP, address}};
}

class StrevalDirectoryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        *backend.sources = {{"A (one)", "10.0.0.1:5961"}, {"B (two)", "10.0.0.2:5961"}};
        directory = std::make_unique<StrevalDirectory>(backend, false);
        token = NotificationCenter::defaultCenter().addObserver(
            this, StrevalDirectory::kSourcesChangedNotification, directory.get(),
            [this](const Notification& n) { posted.push_back(n.userInfo.value(StrevalDirectory::kSourcesKey).toList()); });
    }
    void TearDown() override { NotificationCenter::defaultCenter().removeObserver(this); }

    ScriptedBackend backend;
    std::unique_ptr<StrevalDirectory> directory;
    std::vector<QVariantList> posted;
    NotificationCenter::Token token = 0;
};

}  // namespace

TEST_F(StrevalDirectoryTest, PostsOncePerChangeOfTheSetNeverForAReorder)
{
    directory->discoverNodeChanges();
    EXPECT_TRUE(posted.empty()) << "unchanged";

    std::swap((*backend.sources)[0], (*backend.sources)[1]);
    directory->discoverNodeChanges();
    EXPECT_TRUE(posted.empty()) << "a new order alone";

    backend.sources->push_back({"C (three)", "10.0.0.3:5961"});
    directory->discoverNodeChanges();
    ASSERT_EQ(posted.size(), 1u) << "a new source";
    EXPECT_EQ(posted[0].size(), 3);
    EXPECT_EQ(posted[0][2].toMap(), entry("C (three)", "10.0.0.3:5961"));
    directory->discoverNodeChanges();
    EXPECT_EQ(posted.size(), 1u) << "once only";

    (*backend.sources)[0] = {"D (four)", "10.0.0.4:5961"};  // one gone, one new: same count
    directory->discoverNodeChanges();
    ASSERT_EQ(posted.size(), 2u) << "a swap at equal count";
    EXPECT_TRUE(posted[1].contains(entry("D (four)", "10.0.0.4:5961")));

    backend.sources->clear();
    directory->discoverNodeChanges();
    ASSERT_EQ(posted.size(), 3u);
    EXPECT_TRUE(posted[2].isEmpty());
    EXPECT_TRUE(directory->listOfSources().isEmpty());
}

TEST_F(StrevalDirectoryTest, FindsByExactNameAndLeavesIncompleteSourcesOut)
{
    *backend.sources = {{"HOST (Show)", "10.0.0.1:1"}, {"", "10.0.0.9:1"}, {"HOST (show)", "10.0.0.2:1"},
                        {"HOST (Show)", ""},           {"HOST (Show)", "10.0.0.3:1"}};
    EXPECT_EQ(directory->listOfSources().size(), 3);
    EXPECT_EQ(directory->serversMatchingName("HOST (Show)"),
              (QVariantList{entry("HOST (Show)", "10.0.0.1:1"), entry("HOST (Show)", "10.0.0.3:1")}));
    EXPECT_EQ(directory->serversMatchingName("HOST (show)"), (QVariantList{entry("HOST (show)", "10.0.0.2:1")}));
    EXPECT_TRUE(directory->serversMatchingName("HOST (SHOW)").isEmpty());
    EXPECT_TRUE(directory->serversMatchingName("Show").isEmpty());
}
