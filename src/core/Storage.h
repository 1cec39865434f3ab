// The storage thread: every write under /opt/set, every remount and every child
// process of the running panel, one at a time, on a thread of their own.
//
// A slow SD card or a command that hangs must not stall the amplifier link, the
// keys or the screen. Those threads post a request here and go on; the storage
// thread carries the requests out in order, with the remounts around each write
// as WriteSetFile does them.
//
// - Requests of one file (its path is its lane; commands and jobs share one
//   lane) are carried out in the order they were posted. A write of a file
//   whose last queued request is a write not yet begun replaces that write's
//   bytes (the newest bytes win, the earlier write never happens); an append
//   joins the queued append before it.
// - A reader of a file under /opt/set sees what the queue will leave there
//   (StorageOpenRead, StoragePending): a bank saved and loaded again on the
//   keys thread loads the saved rows, a file whose removal is queued is absent.
// - A write or append that fails (the remount, or the file) is logged by its
//   `done` as before and stays queued: it is tried again after 1 s, then after
//   twice as long each time, at most 60 s apart; the requests of other files go
//   on meanwhile. Commands and jobs run once.
// - At most kStorageQueueMax requests wait, of which at most kStorageJobsMax
//   commands and jobs. A request beyond that is refused (kStorageRefused) and
//   logged, once until one is taken again; writes coalesce per file, so only
//   a storm of removals and rewrites of many files can meet the bound.
// - StorageEnd (F12, SIGTERM: after the other threads have been joined) gives
//   every queued request one more try, ignoring the back-off, before the thread
//   ends: the last remount read-only follows the last write.
//
// Without the thread (start-up before the threads run, the unit tests, and after
// the end) a request is carried out at once on the caller, and its result is
// returned; with the thread running a post returns 0 (queued) or
// kStorageRefused.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <sys/types.h>

struct Works;

// A request's outcome, on the thread that carried it out: a write's
// WriteSetFile result (0, -1 when the read-write remount failed, else errno),
// an append's errno (0 once written), a removal's or a command's wait status.
using StorageDone = std::function<void(int result)>;

constexpr int kStorageRefused = -2;
constexpr size_t kStorageQueueMax = 256;
constexpr size_t kStorageJobsMax = 32;
// Lines of one file appended while its earlier lines wait: at most this many
// bytes in one request (64 KB is over ten minutes of the temperature log).
constexpr size_t kStorageAppendMax = 64 * 1024;
constexpr int kStorageRetryFirstMs = 1000;
constexpr int kStorageRetryMaxMs = 60000;

// The whole file `path` under /opt/set becomes `bytes` (WriteSetFile: unless it
// holds them already, between the two remounts); `forceMode` as there. `done`
// gets WriteSetFile's result after each try.
int StorageWrite(const char* path, std::string bytes, mode_t forceMode = 0, StorageDone done = nullptr);
// Appends `text` to `path` between the two remounts; a file that did not exist
// begins with `header`. A remount that fails is logged by RemountSetRw and
// tried again; a file that cannot be opened goes to `done` (errno) and is tried
// again.
int StorageAppend(const char* path, std::string text, std::string header, StorageDone done = nullptr);
// Runs `command` (which removes `path`) between the two remounts; `done` gets
// its wait status. A failed read-write remount is tried again, the command's
// own failure is not.
int StorageRemove(const char* path, std::string command, StorageDone done = nullptr);
// Runs a shell command (plat_system); `done` gets its wait status.
int StorageCommand(std::string command, StorageDone done = nullptr);
// Runs `job` on the storage thread: the child processes and probes whose
// results other threads read afterwards. A job whose `key` (not empty) is
// already queued and not begun is not queued twice.
int StorageJob(const char* key, std::function<void()> job);

// What the queue will leave in `path`: as on disk, these bytes (and mode, 0:
// the file's own), or no file.
enum class StorageView { Disk, Bytes, Removed };
StorageView StoragePending(const char* path, std::string* bytes, mode_t* mode = nullptr);
// Opens `path` for reading as the queue will leave it: the queued bytes (kept
// in `*keep`, which must outlive the stream), nullptr with errno ENOENT when
// its removal is queued, else the file under the root.
FILE* StorageOpenRead(const char* path, std::string* keep);

// The thread's side. StorageBegin switches posts to the queue (the starter
// calls it just before starting the thread); StorageRun is the thread's body,
// which returns once StorageEnd has asked and the queue is empty; StorageAbandon
// carries out what was queued on the caller and switches back to doing
// requests at once (a thread that could not be started).
void StorageBegin();
void StorageRun(Works* works);
void StorageEnd();
void StorageAbandon();
// Requests waiting or running.
size_t StorageQueued();
// Waits until nothing is queued or `timeoutMs` of program time passed; true
// when empty. For tests, which watch the files after the queue ran.
bool StorageIdle(int timeoutMs);
