// Orders of a MailList: by file name and by date.
#pragma once

#include <string>

#include "store/mail_list.h"

namespace quillo {

// Orders the first `count` entries by name, bytes compared as unsigned values.
void SortListByName(MailList& list, int count);

// "19" or "20" (by the two-digit year) followed by the display text from its
// date column on.
std::string DateSortKey(const ListEntry& entry);

// Orders the first `count` entries by DateSortKey with the exchange procedure
// the list has always used (entries with equal keys keep that procedure's
// order). Returns count.
int SortListByDate(MailList& list, int count);

}  // namespace quillo
