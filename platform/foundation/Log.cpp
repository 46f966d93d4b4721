#include "Log.h"

#include <spdlog/sinks/daily_file_sink.h>
#include <spdlog/sinks/stdout_sinks.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <mutex>

namespace KavioLog {

namespace {

std::atomic<bool> g_verbose{false};

std::shared_ptr<spdlog::logger> makeStderrLogger()
{
    auto sink = std::make_shared<spdlog::sinks::stderr_sink_mt>();
    auto log = std::make_shared<spdlog::logger>("kavio", sink);
    // Level, function, file and line on every entry.
    log->set_pattern("%Y-%m-%d %H:%M:%S.%e %^%l%$ [%t] %! (%s:%#) %v");
    log->set_level(spdlog::level::debug);
    log->flush_on(spdlog::level::warn);
    return log;
}

std::shared_ptr<spdlog::logger>& loggerSlot()
{
    // Never destroyed: queue threads still winding down while the process exits (a socket's
    // close report, a late completion) log after static destructors have run.
    static auto* log = new std::shared_ptr<spdlog::logger>(makeStderrLogger());
    return *log;
}

}  // namespace

spdlog::logger& logger()
{
    return *loggerSlot();
}

std::string logDirectory()
{
    std::filesystem::path base;
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state) {
        base = state;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        base = std::filesystem::path(home) / ".local" / "state";
    } else {
        base = std::filesystem::temp_directory_path();
    }
    return (base / "Kavio" / "logs").string();
}

std::string setupFileLogging()
{
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    const std::string dir = logDirectory();
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        KLOG_ERROR("cannot create the log folder {}: {}", dir, ec.message());
        return {};
    }
    try {
        // A new file at midnight; two files are kept.
        auto fileSink = std::make_shared<spdlog::sinks::daily_file_sink_mt>(
            (std::filesystem::path(dir) / "kavio.log").string(), 0, 0, false, 2);
        auto& log = logger();
        // The file keeps the source's whole path: the log bundle picks components by folder.
        fileSink->set_pattern("%Y-%m-%d %H:%M:%S.%e %l [%t] %! (%g:%#) %v");
        log.sinks().push_back(fileSink);
    } catch (const spdlog::spdlog_ex& e) {
        KLOG_ERROR("cannot open the log file in {}: {}", dir, e.what());
        return {};
    }
    return dir;
}

void setVerbose(bool on)
{
    g_verbose = on;
    logger().set_level(on ? spdlog::level::trace : spdlog::level::debug);
}

bool isVerbose()
{
    return g_verbose;
}

std::string shortFunctionName(std::string_view pretty)
{
    // Cut the parameter list: the first '(' at template depth zero, skipping "operator()".
    int depth = 0;
    size_t paren = std::string_view::npos;
    for (size_t i = 0; i < pretty.size(); ++i) {
        const char c = pretty[i];
        if (c == '<') {
            ++depth;
        } else if (c == '>' && depth > 0) {
            --depth;
        } else if (c == '(' && depth == 0) {
            if (i >= 8 && pretty.substr(i - 8, 8) == "operator" && i + 1 < pretty.size() && pretty[i + 1] == ')') {
                ++i;
                continue;
            }
            paren = i;
            break;
        }
    }
    std::string_view head = pretty.substr(0, paren);
    // Drop the return type: whatever precedes the last space outside template brackets.
    depth = 0;
    size_t start = 0;
    for (size_t i = 0; i < head.size(); ++i) {
        const char c = head[i];
        if (c == '<') {
            ++depth;
        } else if (c == '>' && depth > 0) {
            --depth;
        } else if (c == ' ' && depth == 0) {
            start = i + 1;
        }
    }
    head = head.substr(start);
    while (!head.empty() && (head.front() == '*' || head.front() == '&')) {
        head.remove_prefix(1);
    }
    return std::string(head);
}

}  // namespace KavioLog
