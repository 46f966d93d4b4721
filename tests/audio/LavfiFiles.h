#pragma once
// Audio files the tests make with ffmpeg's lavfi sources, once per run, in the fixture folder.

#include "MediaFixtures.h"

#include <cstdio>
#include <map>
#include <string>

namespace LavfiFiles {

// `name` made from an ffmpeg command line (the output name appended).
inline std::string made(const std::string& name, const std::string& arguments)
{
    static std::map<std::string, std::string> commands;
    commands[name] = arguments;
    return MediaFixtures::madePath(name, [](const std::string& file) {
        return MediaFixtures::ffmpeg(commands[file] + " '" + file + "'");
    });
}

// `seconds` of the lavfi `source` at `rate`, with further output options.
inline std::string lavfi(const std::string& name, const std::string& source, double seconds, int rate,
                         const std::string& extra = "")
{
    char duration[32];
    std::snprintf(duration, sizeof duration, "%g", seconds);
    return made(name, "-f lavfi -i \"" + source + "\" -t " + duration + " -ar " + std::to_string(rate) + " " + extra);
}

}  // namespace LavfiFiles
