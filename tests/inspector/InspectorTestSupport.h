#pragma once
// The inspector as the main window holds it: its scroll view beside the real cue list view, both
// driven by a real cue list controller (its other neighbours faked), in one shown window. Cues
// are made from media files the tests write (ffmpeg, QImage, QPdfWriter).

#include "../controller/ControllerFakes.h"

#include "Inspector/KavioVideoItemPreferencesController.h"
#include "Views/KavioItemsView.h"
#include "Views/KavioTextField.h"

#include <QScrollArea>
#include <QWidget>

#include <memory>

namespace InspectorTest {

// A 30 s, 25 fps movie with a frame counter and a tone; a 3 s tone as WAV.
QString movie30();
QString wav();

// A cue whose playhead the test sets (the rest is the real cue).
class PlayheadCue : public KavioVideoItem {
public:
    PlayheadCue() : KavioVideoItem([](const QVTOSCMessage&) {}) {}
    MediaTime currentCMTime() const override { return playhead; }
    MediaTime playhead = MediaTime::zero();
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

    // `load` false leaves loadPreferenceItems to the test.
    explicit Fixture(bool load = true);
    ~Fixture();

    const KavioVideoItemPreferencesOutlets& o() const { return panel->outlets(); }
    UndoManager& undo() { return app->undo; }

    // Cues over media, added to the list and ready (or missing).
    std::shared_ptr<KavioVideoItem> add(const QString& path);
    std::shared_ptr<PlayheadCue> addMovieWithPlayhead();
    QString still(const QString& name);
    QString pdf(const QString& name, int pages);

    void select(const KavioVideoItemList& items);
    // Types into the field as an operator does: focus, select all, the keys, Return.
    static void type(KavioTextField* field, const QString& text);
    bool sectionHidden(const QString& title) const;
    static QString placeholder(KavioTextField* field);
};

}  // namespace InspectorTest
