#pragma once
// Replaces a file's content as one step: readers see either the old bytes or
// all of the new ones, never a file cut short by a full disk or a crash.
#include <string>
#include <string_view>

// Writes `bytes` to a new file beside `path`, checks every write, the fsync and
// the close, then renames it over `path`. A symlink is written through to its
// target; an existing target keeps its permissions and, where allowed, its
// owner. An existing target that is not a regular file, or one that could not
// be overwritten in place, is refused. On any failure the old file is left as
// it was, the temporary file is removed, and the result is false.
bool WriteFileAtomically(const std::string& path, std::string_view bytes);
