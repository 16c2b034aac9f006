// The host file on disk: read whole at start, written whole when a board's
// memory changes. Failures leave errno saying why.
#ifndef RXB540_SIM_HOST_HOST_FILE_STORAGE_H
#define RXB540_SIM_HOST_HOST_FILE_STORAGE_H

#include <string>

// Reads the whole file, every byte as it is; false when it cannot be read.
bool ReadHostFile(const std::string &path, std::string *text);

// Writes text beside the file (path.tmp.<process id>) and renames it into
// place, so that the file is always either the old text or the new one, never
// half-written. On failure the file is unchanged and nothing is left beside it.
bool ReplaceHostFile(const std::string &path, const std::string &text);

#endif  // RXB540_SIM_HOST_HOST_FILE_STORAGE_H
