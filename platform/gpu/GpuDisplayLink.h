#pragma once
// Displays and their refresh: what a display link offers, without a thread of its own.
//
// The owner ticks the link from its own thread at the link's refresh period (the render clock
// does, on its render thread); this class only chooses the display and reports its period.
// All operations run on the GUI thread (they read Qt's screen list).

#include <cstdint>
#include <memory>

class QScreen;

// A rational time: timeValue / timeScale seconds (or frames per second for a rate).
struct GpuTime {
    std::int64_t timeValue = 0;
    std::int32_t timeScale = 0;
    std::int32_t flags = 0;
};

namespace GpuDisplays {
// A display's 32-bit id: derived from its connector name and its virtual desktop's position
// (X screens of one server are separate desktops), so it stays the same across restarts and
// re-arrangement; never 0.
std::uint32_t displayIdForScreen(const QScreen* screen);
// The screen with that id among Qt's screens, or nullptr.
QScreen* screenForDisplayId(std::uint32_t displayId);
}  // namespace GpuDisplays

class GpuDisplayLink {
public:
    enum Result : int { Success = 0, NoDisplays = -6661, InvalidDisplay = -6670 };

    // A link on the first of the active displays, not running. nullptr, with NoDisplays in
    // *result, when there is no screen (or no QGuiApplication).
    static std::unique_ptr<GpuDisplayLink> createWithActiveDisplays(int* result);

    // Success, or InvalidDisplay (the link keeps its display) when no screen has that id.
    int setCurrentDisplay(std::uint32_t displayId);
    std::uint32_t currentDisplay() const { return displayId_; }
    // The display's refresh period: 1000 / (refresh in millihertz); displays that report no
    // rate count as 60 Hz.
    GpuTime nominalOutputVideoRefreshPeriod() const;

    void start() { running_ = true; }
    void stop() { running_ = false; }
    bool isRunning() const { return running_; }

private:
    explicit GpuDisplayLink(std::uint32_t displayId);
    std::uint32_t displayId_;
    bool running_ = false;
};
