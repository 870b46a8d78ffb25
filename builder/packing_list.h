// The packing list as the builder sees it: where the /m argument names it, how an entry
// "<name>,<source path>" splits, and the pruning that removes entries whose source is missing.
#pragma once

#include <string>

#include "builder/build_log.h"
#include "platform/platform.h"
#include "script/failure.h"
#include "script/payload_list.h"
#include "script/setup_script.h"

enum class ListPathResult {
  Ok,
  TooLong,  // the text after the switch has more than 259 characters
};
// Takes the packing-list path from the /m argument text: what follows the switch word and the
// blanks after it, as given (blanks inside included, trailing blanks dropped), or the text between
// double quotes when it starts with one. "/m .\list.ini" and "/m "C:\My Files\list.ini"" both work;
// a text with no path leaves `path` empty (which no file matches).
ListPathResult PackingListPath(const char* argumentText, char (&path)[platform::kPathCapacity]);

// True for a path that does not depend on the current directory: a drive letter, or a leading "\"
// or "/".
bool IsAbsolutePath(const char* path);

// The packing list with its missing sources removed: every Files entry (File01 ... File99) whose
// source does not exist is dropped (a source that is a folder, device or pipe fails, code 4), with a warning line in the log for each, and the entries after
// it move down so they stay consecutive from File01. `pruned` receives the edited text: every byte
// of `list` but the moved values and the dropped keys' lines stays as it is. An entry without a
// comma or too long to move whole fails (code 4), as does an edit the text cannot take (naming
// `listPath`). With `strict`, a missing source fails (code 4, naming it) and nothing is pruned.
// Nothing is written to disk here.
Failure PrunePackingList(BuildLog& log, const char* listPath, const SetupScript& list, std::string& pruned,
                         bool strict = false);

// Replaces the packing list at `path` by `text` as a whole: the text is written beside it and moved
// over it, so the list is either as it was or as edited, never half-written. Fails with the system's
// reason.
platform::Status StorePackingList(const char* path, const std::string& text);

// Reads Files/FileNN (NN from `number`) with the "@" convention into `value`; `present` tells
// whether the key is there. A value too long to hold whole fails (code 4).
Failure ReadFilesEntry(const SetupScript& list, int number, std::string& value, bool& present);

// The source path of an entry value, or code 4 with the line `noCommaText` when it holds no comma.
Failure RequireSourcePath(const std::string& value, const char* noCommaText, const char*& source);
