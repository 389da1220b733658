#pragma once
// Whether a file can be shown or read as a page, asked without ever waiting:
// a pipe named like a results page must not hang the window that looks.
#include <string>

// 0 when `path` is a regular file that opens for reading; else the reason, as
// an errno value: EISDIR for a folder, EACCES for a pipe or a device.
int ReadableFileError(const std::string& path);
