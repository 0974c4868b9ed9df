// How the core reaches the user: it never shows anything itself. What it finds comes back in
// the values it returns (a file's result, a name proposal with its bad-header text) and its
// failures as exceptions, which the front ends report. The one thing the core must ask while
// it works, whether a file may be replaced, it asks through an OverwriteQuestion the front end
// hands in, and the front end words it: the window with a modal box, the command-line tool on
// the terminal or by its options, tests with recorders.
#pragma once

#include <filesystem>
#include <functional>

namespace tessaly {

enum class Answer { kYes, kNo };

// May the file at `target`, standing where the picture of `input` is to be saved, be replaced?
// The default answer is No; an unset question answers No.
using OverwriteQuestion =
    std::function<Answer(const std::filesystem::path& input, const std::filesystem::path& target)>;

}  // namespace tessaly
