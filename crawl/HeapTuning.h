#pragma once
// The heap as a search uses it. Page texts of a hundred kilobytes and more are
// taken and given back by the hundred a second; by default the C library hands
// such blocks back to the system when they are freed and takes them anew, a
// page fault every 4 KiB, for the next page. A program that runs searches
// keeps them in its heap instead, and gives back what is free once a search is over.
//
// Both are the program's to call, not the library's: they set how the whole
// process allocates.

// Once, at the program's start, before its threads.
void KeepPageBlocksInHeap();
// When a search has ended: the heap's free memory goes back to the system.
void ReleaseFreeHeap();
