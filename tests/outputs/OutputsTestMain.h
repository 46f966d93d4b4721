#pragma once
// The output suites' main(): own user defaults, a widget application (offscreen while tests are
// only listed or without a display), alerts answered without dialogs and the run's GPU device.
// `display` may pick the X display first (answering false leaves the environment's).

#include <functional>

int runOutputSuites(int argc, char** argv, const std::function<bool(bool listing)>& display = {});
