#include "QVTOSCSenderNode.h"

#include <gtest/gtest.h>

TEST(QVTOSCSenderNode, MirrorsAddressesUnderTheSourcePrefixesOfEachRole)
{
    QVTOSCSenderNode node;
    EXPECT_TRUE(node.mirroredAddresses("/kavio/4/opacity").isEmpty());

    node.setSourceForCurrentAddress("/kavio/4/");
    node.setSourceForNextAddress("/kavio/5/");
    node.setSourceForPreviousAddress("/kavio/3/");
    struct Case {
        const char* sent;
        QStringList mirrored;
    } cases[] = {
        {"/kavio/4/opacity", {"/kavio/current/opacity"}},
        {"/kavio/5/toggleLoop", {"/kavio/next/toggleLoop"}},
        {"/kavio/3/cueName", {"/kavio/previous/cueName"}},
        {"/kavio/40/opacity", {}},  // a prefix matches whole path segments only
        {"/kavio/time", {}},
        {"/kavio/4", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(node.mirroredAddresses(c.sent), c.mirrored) << c.sent;

    // With no current cue the list clears all three; nothing is mirrored any more.
    node.setSourceForCurrentAddress(QString());
    node.setSourceForNextAddress(QString());
    node.setSourceForPreviousAddress(QString());
    EXPECT_TRUE(node.mirroredAddresses("/kavio/4/opacity").isEmpty());
    EXPECT_TRUE(node.sourceForCurrentAddress().isEmpty());
}
