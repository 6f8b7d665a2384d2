// Choosing a recipient from the address book "mailidx.txt" in the mailbox.
#pragma once

#include <string>

namespace quillo {

// Empties `recipient`, shows the address book as a numbered, paged list and
// copies the chosen entry into `recipient`; it stays empty when there is no
// book or the user leaves without a choice.
void SelectAddress(std::string& recipient);

}  // namespace quillo
