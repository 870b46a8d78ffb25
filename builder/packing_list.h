// The packing list as the builder sees it: where the /m argument names it, how an entry
// "<name>,<source path>" splits, and the pruning that removes entries whose source is missing.
#pragma once

#include "builder/build_log.h"
#include "platform/platform.h"

enum class ListPathResult {
  Ok,
  TooLong,  // the text after the switch has more than 259 characters
};
// Takes the packing-list path from the /m argument text: what follows the switch word and the
// blanks after it, as given (blanks inside included, trailing blanks dropped), or the text between
// double quotes when it starts with one. "/m .\list.ini" and "/m "C:\My Files\list.ini"" both work;
// a text with no path leaves `path` empty (which no file matches).
ListPathResult PackingListPath(const char* argumentText, char (&path)[platform::kPathCapacity]);

// The source path of an entry: the text after its last comma, with the tabs, blanks and commas that
// follow the comma skipped. Null when the entry holds no comma.
const char* EntrySourcePath(const char* entry);

// True for a path that does not depend on the current directory: a drive letter, or a leading "\"
// or "/".
bool IsAbsolutePath(const char* path);

// Removes from the packing list at `listPath` every Files entry (File01 ... File99) whose source
// does not exist, with a warning line in the log for each, and renumbers the entries after it so
// they stay consecutive from File01. The edits stay on disk whatever follows. An entry without a
// comma, a value too long to move whole, or a failed write ends the build (code 4).
void PrunePackingList(BuildLog& log, const char* listPath);

// Reads Files/FileNN (NN from `number`) into `value` with the default "@"; false when the key is
// missing. A value too long to hold whole ends the build (code 4).
bool ReadFilesEntry(BuildLog& log, const char* listPath, int number, char (&value)[platform::kPathCapacity]);

// Ends the build when `value` holds no comma (code 4, with the line `noCommaText`); else returns
// its source path.
const char* RequireSourcePath(BuildLog& log, const char* listPath, const char* value, const char* noCommaText);
