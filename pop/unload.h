// Deleting messages on the server without retrieving them.
#pragma once

#include <string>

#include "pop/header_list.h"

namespace quillo {

// Lets the user pick messages from the header list and deletes each one
// confirmed. 1 when the conversation ran to QUIT, 0 when it stopped early.
int UnloadMail(const std::string& password);

// Shows entry `number` of `list`, asks "Realy?(y/[n]):" and sends DELE on "y". 1 when
// the server accepted it, else 0.
int ConfirmDelete(const HeaderList& list, int number);

}  // namespace quillo
