#include "console/menu.h"

namespace quillo {

// The menu itself arrives with the folder-menu work; until then the
// interactive mode ends at once, as if "q" had been typed.
void MenuLoop(const std::function<int(const std::string&)>& dispatch) { (void)dispatch; }

}  // namespace quillo
