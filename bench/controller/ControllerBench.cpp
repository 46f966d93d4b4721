// The cue list controller's list operations at 10, 100 and 1000 cues: lookups by uid, index, name
// and cue ID (first cue, last cue, absent), moving the first cue to the end and back, rebuilding
// the queue, the running time and the selected cues. Each figure is the cost of one call, the
// ratio to the same call on a list ten times smaller (about 1 when flat, about 10 when linear),
// and its share of one 25 fps output frame (40 ms). Beside them, measured the same way in the
// same run, a plain scan of as many pointers, so the figures can be read against what this
// machine gives at that moment.
//
// Usage: controller_bench [milliseconds per figure] (default 200).

#include "Clock/QVTClock.h"
#include "Controller/KavioVideoItemManager.h"
#include "Cue/KavioVideoItem.h"
#include "../KavioBenchSupport.h"
#include "UserDefaults.h"

#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// A cue of one second that lays itself on the clock as the cue's timing does.
class BenchCue : public KavioVideoItem {
public:
    BenchCue(std::shared_ptr<QVTClock> clock, int number)
        : KavioVideoItem([](const QVTOSCMessage&) {}), clock_(std::move(clock))
    {
        setUid(QStringLiteral("uid-%1").arg(number));
        setCueName(QStringLiteral("name-%1").arg(number));
        setCueID(QStringLiteral("Q%1").arg(number));
    }
    void setupSMPTEStartAndEndTimes() override { setupSMPTEEndTimeWithStartFrames(0); }
    void setupSMPTEEndTimeWithStartFrames(std::int64_t start) override
    {
        const int fps = clock_->framerate();
        setItemStartCMTime(MediaTime::makeWithSeconds(double(start) / fps, MediaTime::kCueTimescale));
        setItemDuration(1.0f);
        setItemEndSMPTETime(clock_->smpteRepresentationOfFrames(std::uint64_t(start + fps - 1)));
    }

private:
    std::shared_ptr<QVTClock> clock_;
};

// Nanoseconds per call: the median of five runs, each repeating the call for a fifth of the budget.
double nanosecondsPerCall(const std::function<void()>& call, double budgetMs)
{
    std::vector<double> runs;
    for (int run = 0; run < 5; ++run) {
        long calls = 0;
        const auto start = Clock::now();
        const auto end = start + std::chrono::duration<double, std::milli>(budgetMs / 5);
        auto now = start;
        do {
            for (int i = 0; i < 16; ++i)
                call();
            calls += 16;
            now = Clock::now();
        } while (now < end);
        runs.push_back(std::chrono::duration<double, std::nano>(now - start).count() / double(calls));
    }
    std::sort(runs.begin(), runs.end());
    return runs[2];
}

}  // namespace

int main(int argc, char** argv)
{
    const double budgetMs = argc > 1 ? std::atof(argv[1]) : 200.0;
    QTemporaryDir home;
    setenv("XDG_CONFIG_HOME", home.path().toUtf8().constData(), 1);
    UserDefaults defaults(home.filePath(QStringLiteral("bench.conf")));

    std::map<std::string, std::map<int, double>> figures;  // operation -> size -> ns
    std::vector<std::string> order;
    const auto record = [&](const std::string& name, int size, double ns) {
        if (!figures.count(name))
            order.push_back(name);
        figures[name][size] = ns;
    };

    for (const int size : {10, 100, 1000}) {
        auto controller = KavioVideoItemManager::init(defaults);
        auto app = std::make_shared<KavioBenchDelegate>();
        controller->setDelegate(app);
        std::vector<std::shared_ptr<KavioVideoItem>> cues;
        for (int i = 1; i <= size; ++i) {
            auto cue = std::make_shared<BenchCue>(controller->masterClock(), i);
            controller->insertItem(cue, std::uint64_t(i));
            cues.push_back(cue);
        }
        controller->buildItemQueue();
        cues.back()->setIsSelected(true);

        const QString first = QString::number(1), last = QString::number(size);
        const struct {
            const char* name;
            std::function<std::shared_ptr<KavioVideoItem>(const QString&)> find;
            QString prefix;
        } lookups[] = {
            {"itemWithUID", [&](const QString& s) { return controller->itemWithUID(s); }, "uid-"},
            {"itemWithIndex", [&](const QString& s) { return controller->itemWithIndex(s.section('-', 1).toULongLong()); }, "i-"},
            {"itemWithName", [&](const QString& s) { return controller->itemWithName(s); }, "name-"},
            {"itemWithCueID", [&](const QString& s) { return controller->itemWithCueID(s); }, "Q"},
        };
        for (const auto& lookup : lookups) {
            const std::pair<const char*, QString> targets[] = {
                {"first", lookup.prefix + first}, {"last", lookup.prefix + last}, {"absent", lookup.prefix + "0"}};
            for (const auto& [where, key] : targets) {
                const auto found = lookup.find(key);
                const bool absent = std::string(where) == "absent";
                check(absent ? !found : found == (std::string(where) == "first" ? cues.front() : cues.back()), lookup.name);
                record(std::string(lookup.name) + " " + where, size, nanosecondsPerCall([&] { lookup.find(key); }, budgetMs));
            }
        }

        const QString firstUid = cues.front()->uid();
        record("move first to end and back", size, nanosecondsPerCall([&] {
                   controller->moveItemWithUID(firstUid, std::uint64_t(size));
                   controller->moveItemWithUID(firstUid, 1);
                   app->undo.removeAllActions();
               }, budgetMs));
        check(controller->items()->front() == cues.front() && cues.front()->index() == 1, "move back");
        record("buildItemQueue", size, nanosecondsPerCall([&] { controller->buildItemQueue(); }, budgetMs));
        const QString trt = controller->projectTRT();
        check(trt == controller->masterClock()->smpteRepresentationOfFrames(std::uint64_t(size * 30 - 1)), "projectTRT");
        record("projectTRT", size, nanosecondsPerCall([&] { (void)controller->projectTRT(); }, budgetMs));
        check(controller->selectedItems().size() == 1, "selectedItems");
        record("selectedItems", size, nanosecondsPerCall([&] { (void)controller->selectedItems(); }, budgetMs));

        // The reference: a plain scan of as many pointers for one that is not there.
        std::vector<const void*> pointers;
        for (const auto& cue : cues)
            pointers.push_back(cue.get());
        const void* volatile missing = &defaults;
        record("reference: scan of n pointers", size, nanosecondsPerCall([&] {
                   check(std::find(pointers.begin(), pointers.end(), missing) == pointers.end(), "scan");
               }, budgetMs));
    }

    std::printf("%-32s %12s %12s %12s %8s %8s %12s\n", "operation", "10 (ns)", "100 (ns)", "1000 (ns)", "x100/10",
                "x1000/100", "1000: %frame");
    for (const auto& name : order) {
        const auto& f = figures[name];
        std::printf("%-32s %12.0f %12.0f %12.0f %8.1f %8.1f %11.4f%%\n", name.c_str(), f.at(10), f.at(100), f.at(1000),
                    f.at(100) / f.at(10), f.at(1000) / f.at(100), f.at(1000) / 40e6 * 100.0);
    }
    return 0;
}
