#pragma once
// Directory change watcher: watches folders with their whole subtrees and reports each
// change as a call on a handler object.
//
// Threads: one monitor thread per watcher reads the kernel's folder events; one
// notification thread per watcher calls the handlers, in the order the changes happened.
// A handler is never called on the monitor thread nor on the thread that asked for the
// watch. Paths reach the handler as full UTF-16 paths: the watched folder as it was given
// (without a trailing '/'), '/', then the item's path below it.
//
// What is reported: a rename inside one folder is On_FileNameChanged (for a file followed
// by On_FileModified of the new name, since it may have replaced a file of that name, as
// an atomic save does); a move between folders, into or out of the tree is removed plus
// added; a folder that appears is reported with everything it already holds; links are
// reported as items and never entered; names that are not UTF-8 are passed over, as the
// scan passes them over. When changes could be lost (the kernel's queue overflowed, the
// watched folder was deleted, moved or unmounted, a new folder could not be watched) the
// watch ends with On_WatchError and the program lists the folder again.
//
// Stopping a watch (UnwatchPath, UnwatchHandler, UnwatchAll, the destructors) delivers
// whatever was queued for it and its On_WatchStopped, and returns only when no handler
// call of that watch is running or can follow, so the handler may be destroyed right
// after. A thread that stops a watch waits for the notification thread meanwhile: a
// handler must not block on that thread, unless that thread's messages are pumped through
// SetWaitPump.
//
// The parts, one header each: WatchCodes.h (error codes, notification kinds, filter
// word), DirectoryChangeHandler.h (the handler interface), DelayedDelivery.h (the
// notification thread and the per-watch filter between the monitor and the handler) and
// DirectoryChangeWatcher.h (the watcher). The inotify monitor thread is private to the
// library.
#include "dirwatch/DelayedDelivery.h"
#include "dirwatch/DirectoryChangeHandler.h"
#include "dirwatch/DirectoryChangeWatcher.h"
#include "dirwatch/WatchCodes.h"
