// Saving the attachments of a message file as files of their own.
#pragma once

#include <string>

namespace quillo {

// Saves every attachment of the message file at `path` into `directory`,
// each under its decoded name made safe (mime/attachment_name.h), never over
// an existing file: a taken name gets "-1", "-2", ... before its extension.
// The bytes saved are exactly the decoded part. Says what it saved; 0 when
// every attachment was saved (or there was none), 1 otherwise.
int SaveAttachments(const std::string& path, const std::string& directory);

}  // namespace quillo
