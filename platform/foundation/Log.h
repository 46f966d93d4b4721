#pragma once
// Logging for the whole program. Every entry carries its level, the C++ function name
// ("KavioAudioPlayer::startPlayback"), the source file and the line.
//
//   KLOG_ERROR("error on save: {}", message);
//
// Format strings are fmt's ("{}"). Entries go to standard error and, after setupFileLogging(),
// to a daily file. Not for per-cycle use on real-time threads: format and write cost time.

#include <spdlog/spdlog.h>

#include <string>
#include <string_view>

namespace KavioLog {

// Writes to $XDG_STATE_HOME/Kavio/logs/ (default ~/.local/state/Kavio/logs/), a new file each
// day, keeping 2, besides standard error. Answers the folder, empty when it could not be made
// (logging then goes on to standard error only).
std::string setupFileLogging();
// The log folder named above, whether or not it exists.
std::string logDirectory();
// Verbose entries are written only while verbose logging is on (off by default).
void setVerbose(bool on);
bool isVerbose();

spdlog::logger& logger();

// "void Foo::bar(int) const" -> "Foo::bar"; for lambdas, the enclosing function.
std::string shortFunctionName(std::string_view prettyFunction);

}  // namespace KavioLog

#define KAVIO_LOG_AT(level, ...)                                                                  \
    do {                                                                                          \
        auto& kavioLogger_ = ::KavioLog::logger();                                                \
        if (kavioLogger_.should_log(level)) {                                                     \
            static const std::string kavioLogFunction_ =                                          \
                ::KavioLog::shortFunctionName(__PRETTY_FUNCTION__);                               \
            kavioLogger_.log(spdlog::source_loc{__FILE__, __LINE__, kavioLogFunction_.c_str()},   \
                             level, __VA_ARGS__);                                                 \
        }                                                                                         \
    } while (0)

#define KLOG_ERROR(...) KAVIO_LOG_AT(spdlog::level::err, __VA_ARGS__)
#define KLOG_WARN(...) KAVIO_LOG_AT(spdlog::level::warn, __VA_ARGS__)
#define KLOG_INFO(...) KAVIO_LOG_AT(spdlog::level::info, __VA_ARGS__)
#define KLOG_DEBUG(...) KAVIO_LOG_AT(spdlog::level::debug, __VA_ARGS__)
#define KLOG_VERBOSE(...) KAVIO_LOG_AT(spdlog::level::trace, __VA_ARGS__)
