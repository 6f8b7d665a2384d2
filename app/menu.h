// The interactive one-line menu over a folder.
#pragma once

#include <functional>
#include <string>

namespace quillo {

// Runs the menu until the user leaves it. Words the menu does not handle
// itself go to `dispatch`, which returns 1 when it ran a job.
void MenuLoop(const std::function<int(const std::string&)>& dispatch);

}  // namespace quillo
