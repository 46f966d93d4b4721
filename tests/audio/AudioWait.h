#pragma once
// Polls until a condition holds (servers answer in their own time); false after `seconds`.

#include <chrono>
#include <functional>
#include <thread>

inline bool waitUntil(const std::function<bool()>& done, double seconds = 10) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return done();
}
