#pragma once
// The inspector as the main window holds it: its scroll view beside the real cue list view, both
// driven by a real cue list controller (its other neighbours faked), in one shown window. Cues
// are made from media files the tests write (ffmpeg, QImage, QPdfWriter).

#include "../controller/ControllerFakes.h"

#include "Inspector/KavioVideoItemPreferencesController.h"
#include "Rendering/KavioRenderClock.h"
#include "Views/KavioItemsView.h"
#include "Views/KavioPopUpButton.h"
#include "Views/KavioTextField.h"

#include <QScrollArea>
#include <QWidget>

#include <memory>

namespace InspectorTest {

// A 30 s, 25 fps movie with a frame counter and a tone; a 3 s tone as WAV.
QString movie30();
QString wav();

// A cue whose playhead and transition state the test sets (the rest is the real cue).
class PlayheadCue : public KavioVideoItem {
public:
    PlayheadCue() : KavioVideoItem([](const QVTOSCMessage&) {}) {}
    MediaTime currentCMTime() const override { return playhead; }
    bool isProcessingTransition() const override { return inTransition; }
    bool isProcessingTransitionToNextCueAtCurrentTime() const override { return inTransition; }
    MediaTime playhead = MediaTime::zero();
    std::atomic<bool> inTransition{false};
};

// The outputs' render size, as the test sets it.
struct SizedOutputs : FakeVideoOutputManager {
    using FakeVideoOutputManager::FakeVideoOutputManager;
    QSizeF renderSize() const override { return size; }
    QSizeF size{1280, 720};
};

// Counts the render passes the test runs.
struct PassCounter : KavioRenderClockDelegate {
    bool renderIfCanAtTime(double) override
    {
        ++passes;
        return true;
    }
    std::atomic<int> passes{0};
};

// Counts the selected-cue feedback the refresh asks for.
class RecordingManager : public KavioVideoItemManager {
public:
    using KavioVideoItemManager::KavioVideoItemManager;
    void sendSelectedCueOSCFeedback() override { ++selectedFeedbacks; }
    int selectedFeedbacks = 0;
};

struct Fixture : ControllerFixture {
    std::shared_ptr<RecordingManager> recording;
    QTemporaryDir media;
    QWidget window;
    QScrollArea* listArea = nullptr;
    std::shared_ptr<KavioItemsView> list;
    std::shared_ptr<KavioVideoItemPreferencesController> panel;
    std::shared_ptr<SizedOutputs> sizedOutputs = std::make_shared<SizedOutputs>(log);
    // A real render clock, idle: the test runs each pass itself (renderPass).
    std::shared_ptr<PassCounter> passCounter = std::make_shared<PassCounter>();
    std::shared_ptr<KavioRenderClock> renderClock = std::make_shared<KavioRenderClock>();
    std::unique_ptr<KavioPopUpButton> projectDefaults;

    // `load` false leaves loadPreferenceItems to the test.
    explicit Fixture(bool load = true);
    ~Fixture();

    const KavioVideoItemPreferencesOutlets& o() const { return panel->outlets(); }
    UndoManager& undo() { return app->undo; }

    // Cues over media, added to the list and ready (or missing).
    std::shared_ptr<KavioVideoItem> add(const QString& path);
    std::shared_ptr<PlayheadCue> addMovieWithPlayhead();
    // A live cue of that media type as the list holds it, with no source behind it.
    std::shared_ptr<KavioVideoItem> addLive(int type, const QString& uid, const QString& path);
    QString still(const QString& name);
    QString pdf(const QString& name, int pages);
    // The 30 s movie as "show.mp4" with two caption files beside it: "show.srt" (track 0, first
    // caption at 2 s) and "show.zz.srt" (track 1, at 4 s).
    QString captionedMovie();

    // One render pass on a thread of the test's own, as the rendering thread runs it: the
    // delegate's step, then the handlers queued for the end of the pass.
    void renderPass();
    // The project's default length popup of that outlet, showing `title`.
    void showProjectDefault(KavioPopUpButtonInterface* KavioVideoItemManagerOutlets::*popup, const QString& title);
    // A new render size, announced as the outputs announce it.
    void setRenderSize(const QSizeF& size);

    void select(const KavioVideoItemList& items);
    // Types into the field as an operator does: focus, select all, the keys, Return.
    static void type(KavioTextField* field, const QString& text);
    bool sectionHidden(const QString& title) const;
    // Clicks an options button and chooses the entry of that title from the menu it pops up;
    // answers the menu's titles, separators as empty strings.
    static QStringList chooseFromOptionsMenu(QWidget* button, const QString& title);
    static QString placeholder(KavioTextField* field);
};

// Two still cues, "a.png" and "b.png".
struct TwoStills : Fixture {
    std::shared_ptr<KavioVideoItem> a, b;
    TwoStills()
    {
        a = add(still(QStringLiteral("a.png")));
        b = add(still(QStringLiteral("b.png")));
    }
};

}  // namespace InspectorTest
