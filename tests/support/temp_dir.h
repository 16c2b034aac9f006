// A scratch folder per test, and whole-file reads and writes.
#ifndef RXB540_TESTS_SUPPORT_TEMP_DIR_H
#define RXB540_TESTS_SUPPORT_TEMP_DIR_H

#include <string>

// Creates a fresh, empty folder under the system's temporary folder.
std::string MakeTempDir();

// Removes a folder and everything in it.
void RemoveTree(const std::string &path);

void WriteTextFile(const std::string &path, const std::string &text);

// The file's whole content; empty when it does not exist.
std::string ReadTextFile(const std::string &path);

#endif  // RXB540_TESTS_SUPPORT_TEMP_DIR_H
