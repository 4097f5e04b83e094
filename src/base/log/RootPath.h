#pragma once

#include <string>

// Every absolute board path ("/data/etc", "/tmp/...", "/media/...") reaches the
// file system through rootPath(), which puts the root named by TALVIKS_ROOT in
// front of it. On the board the variable is unset and paths stay as they are;
// tests and the simulator point it at a scratch folder. Texts for logs and
// configuration keep the board path.

// The root, read once from the environment; empty on the board.
const std::string& rootPrefix();

// The file-system path of a board path. Relative paths are returned unchanged.
std::string rootPath(const std::string& boardPath);

// A path made absolute (against the working folder) and lexically normal:
// no ".", "..", repeated or trailing slashes. Filters of paths match this
// form, so "/dev/./fb0" or "//sys/..." cannot slip past them.
std::string absoluteNormalPath(const std::string& path);
