#pragma once
// The cue list as the controller publishes it: an immutable snapshot, replaced whole on the
// items queue. Holders may keep and iterate one as long as they like; it never changes.

#include <memory>
#include <vector>

class KavioVideoItem;

using KavioVideoItemList = std::vector<std::shared_ptr<KavioVideoItem>>;
using KavioVideoItemListSnapshot = std::shared_ptr<const KavioVideoItemList>;
