#pragma once
// What the search's host does with its findings once the worker has ended:
// the window's "Show results" and Cancel answered "Save found? Yes".
#include <functional>
#include <string>

class CSearch;
class IMessageBox;

// Waits for the worker to have returned, lists the failed and skipped URLs
// through `showFailedUrls` (which empties them) when there are any, then writes
// the report. Returns WriteReport's result.
int ShowResults(CSearch& search, const std::string& reportFile, IMessageBox& box,
                const std::function<void()>& showFailedUrls);
// Stops the search, writes what was found, and empties the queue and the
// exclusions; the failed URLs stay. Returns WriteReport's result.
int KeepFound(CSearch& search, const std::string& reportFile, IMessageBox& box);
