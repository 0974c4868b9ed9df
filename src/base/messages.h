// How the core reaches the user: it never shows anything itself. What it finds comes back in
// the values it returns (a file's result, a name proposal with its bad-header text) and its
// failures as exceptions, which the front ends report. The one thing the core must ask while
// it works, whether a file may be replaced, it asks through an OverwriteQuestion the front end
// hands in: the window answers with a modal box, the command-line tool on the terminal or by
// its options, tests with recorders.
#pragma once

#include <functional>
#include <string>

namespace tessaly {

enum class Answer { kYes, kNo };

// A Yes/No question (caption, text) whose default answer is No; an unset one answers No.
using OverwriteQuestion =
    std::function<Answer(const std::string& caption, const std::string& text)>;

}  // namespace tessaly
