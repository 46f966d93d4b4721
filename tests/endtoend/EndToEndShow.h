#pragma once
// The program run in this process as an operator meets it: its main interface on the suite's
// own X server, its video output full screen on the main display, its sound through the test
// PulseAudio server's "stereo" sink (the system default there), OSC on. The test writes the
// project file through the archive, sends commands over UDP to 127.0.0.1, and reads what the
// output window shows at every frame and what the sink plays.
//
// The show of the run: movie A (bar code 0..49, 440 Hz) dissolving for 1 s into movie B (bar
// code 100..149, 880 Hz), which follows on into the sample-counter audio cue, then a still held
// for 2 s; the playlist does not loop. Each picture is 320x240 with its bar code in the top rows
// (MediaFixtures).

#include "../shell/ShellTestSupport.h"
#include "../audio/PulseRecorder.h"

#include <QString>
#include <QVariantMap>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class KavioRenderClockDelegate;
class KavioVideoItem;
class KavioVideoItemManager;

// The media of the show, made on first use.
struct EndToEndMedia {
    std::string movieA, movieB, counter, still;
    // True when every file was made (the calling test failed otherwise).
    bool make();
};

// The four cue records of the show.
QVariantMap showPlaylist(const EndToEndMedia& media);
// The whole project file's root: the playlist, OSC on, no loop, outputs at 1920 x 1080.
QVariantMap showProject(const EndToEndMedia& media);

// What the output window showed at one frame of the render clock.
struct ShownFrame {
    std::int64_t hostNs = 0;           // CLOCK_MONOTONIC at the start of the render step
    std::array<float, 8> bits{};       // brightness 0..1 of each bar-code bit
    std::array<float, 3> body{};       // mean red, green, blue 0..1 across the picture's row 30
    // The frame number the bar code shows, or -1 when some bit lies between dark and bright
    // (a dissolve, or no bar code at all).
    int code() const;
    bool isBlack() const;
};

// How far a movie's pictures strayed from the clock's pace of 25 frames a second, in frames:
// the spread of (frame shown - 25 x time) over the frames showing the bar codes first ..
// first + 49 cleanly, from the movie's first move to its last frame. `frameZeroNs` gets when
// the movie's frame 0 was due by those frames (CLOCK_MONOTONIC).
double paceSpread(const std::vector<ShownFrame>& frames, int first, std::int64_t* frameZeroNs = nullptr);
// The most a movie that keeps the pace spreads: the frame shown is a whole one (up to one frame),
// the step shows the clock's time as of its last tick (up to one more), and on a loaded machine
// the steps and ticks start late besides. A movie that stalls or runs ahead goes past it.
constexpr double kPaceSpreadFrames = 3.0;

// Every frame the output shows, read back from the output window's drawable right after the
// render step that presented it: the bar-code row and the picture row below it as the
// projection put them on the screen. Installs itself as the render clock's delegate, in front
// of the program's own; the frames are kept in a buffer sized in advance (the rendering thread
// never allocates), owned with the tap, so reads the GPU completes after the recorder went land
// in memory that still exists.
class OutputRecorder {
public:
    explicit OutputRecorder(ShellTestProgram& program, std::size_t capacity = 60 * 120);
    ~OutputRecorder();
    // Frames recorded so far (any thread; the entries up to count() are complete).
    std::size_t count() const;
    const ShownFrame& at(std::size_t index) const;
    std::vector<ShownFrame> frames() const;
    // Writes the output's current picture as a PNG (for a look at a failure or the report).
    void saveSnapshot(const QString& path);

private:
    class Tap;
    ShellTestProgram& program_;
    std::shared_ptr<Tap> tap_;
    std::shared_ptr<KavioRenderClockDelegate> original_;
};

// Datagrams to the program's OSC input on 127.0.0.1.
class OSCSender {
public:
    OSCSender();
    ~OSCSender();
    void send(const std::vector<char>& datagram);
    void send(const std::string& address);                 // no argument
    void send(const std::string& address, float value);    // one float

private:
    int socket_ = -1;
};

// One launch of the program on the show, with the outputs on and the sound recorded.
class EndToEndRun {
public:
    // Skips the calling test when the PulseAudio test server cannot run (reason()).
    EndToEndRun();
    ~EndToEndRun();
    bool available() const { return reason_.empty(); }
    const std::string& reason() const { return reason_; }

    // Launches the program on `project` (already written) and waits until it is loaded, its
    // cues ready or missing, its outputs on and rendering, and OSC listening.
    void launch(const QString& project);
    // Writes the show as "Show.kavio2" in the test's folder and launches on it; answers its path.
    QString launchShow();
    // Starts recording the sink, sends GO and waits until the show plays; answers the output
    // frames counted before GO (check HasFatalFailure()).
    std::size_t go();
    // Ends the program as a quit does (the questions answered before), and drops it.
    void terminate();
    AppDelegate& app() { return program_->app(); }
    ShellTestProgram& program() { return *program_; }
    KavioVideoItemManager& controller();
    // The cue at `index` (1-based) of the list.
    std::shared_ptr<KavioVideoItem> cue(int index);

    ShellTestEnvironment env;
    EndToEndMedia media;
    std::unique_ptr<ShellTestProgram> program_;
    std::unique_ptr<OutputRecorder> output;
    std::unique_ptr<PulseRecorder> sound;
    OSCSender osc;

private:
    std::string reason_;
};

// The records of the program's cues by uid, as it would save them.
std::map<QString, QVariantMap> cueRecords(KavioVideoItemManager& controller);

// An OSC string: its bytes, a zero and zeros to a multiple of four.
void putOSCString(std::vector<char>& datagram, const std::string& text);

// Runs the main queue until `condition` holds or `seconds` pass; answers the condition.
bool waitFor(const std::function<bool()>& condition, double seconds = 30.0);
