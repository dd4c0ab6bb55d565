#pragma once

// Everything oxtrel asks of the operating system, in one place. The layers above call only
// these functions; each system has its implementation (posix/, with the fast paths of linux/;
// windows/). No system header is included here, so callers stay the same on every system.
//
// Errors: a function that can fail returns a SystemError: 0 for success, else an errno value
// (ENOENT, EACCES, ...). Systems whose own codes differ map them to the nearest errno value, so
// messages ("No such file or directory") and the callers' decisions are the same everywhere.
//
// Handles: a File or a Directory owns one open handle of the system (a descriptor on POSIX)
// and closes it when it goes. A NativeHandle is a handle borrowed for the length of a call.
//
// Names: every name and path is the bytes given, taken as UTF-8 where the system needs text.
// A `name` is one path component (no separator); a `path` may hold several.
//
// Thread safety: every function may be called from any thread at the same time, as long as
// one File, Directory or Publisher is not used by two threads at once.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace oxtrel::platform {

using SystemError = int;

using NativeHandle = std::intptr_t;
inline constexpr NativeHandle kNoHandle = -1;

// Closes handle; the system's verdict (a written file's last write errors may show only here).
SystemError closeHandle(NativeHandle handle);

// One owned handle. Tag only keeps files and directories apart.
template <class Tag>
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(NativeHandle handle) : handle_(handle) {}
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    reset(other.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { reset(); }

  NativeHandle get() const { return handle_; }
  bool valid() const { return handle_ != kNoHandle; }
  NativeHandle release() { return std::exchange(handle_, kNoHandle); }
  void reset(NativeHandle handle = kNoHandle) {
    if (handle_ != kNoHandle) closeHandle(handle_);
    handle_ = handle;
  }
  // Closes now and reports the system's verdict (0 when there was nothing to close).
  SystemError close() { return handle_ == kNoHandle ? 0 : closeHandle(release()); }

 private:
  NativeHandle handle_ = kNoHandle;
};

using File = UniqueHandle<struct FileTag>;
using Directory = UniqueHandle<struct DirectoryTag>;

// ---- Files --------------------------------------------------------------------------------

enum class FileKind { regular, directory, symbolicLink, other };

// What tells two names of one file apart from two files: equal identities, one file.
struct FileIdentity {
  uint64_t volume = 0;
  uint64_t object = 0;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

struct FileStatus {
  FileKind kind = FileKind::other;
  uint64_t size = 0;
  FileIdentity identity;
};

// Opens path for reading, following a symbolic link unless noFollow (then ELOOP at a link). A
// FIFO or device is opened without waiting for a writer; the caller checks the kind.
SystemError openForReading(const std::string& path, bool noFollow, File& file);

// The status of an open file.
SystemError statusOf(NativeHandle file, FileStatus& status);

// The status of what path names itself: a symbolic link is described, not followed.
SystemError statusOfPath(const std::string& path, FileStatus& status);

// Reads up to dst.size() bytes, at offset when given (no shared position is used or moved),
// else at the file's position, retrying interrupted and short transfers until dst is full or
// the file ends. done is the count read, also on failure.
SystemError readFully(NativeHandle file, std::span<uint8_t> dst, std::optional<uint64_t> offset, size_t& done);

// Writes all of bytes, at offset when given, else at the file's position. A write that moves
// nothing without an error is EIO.
SystemError writeFully(NativeHandle file, std::span<const uint8_t> bytes, std::optional<uint64_t> offset);

// A hint that file will be read mostly front to back. Never fails.
void adviseSequential(NativeHandle file);

// A new file that no name reaches, open for reading and writing at any offset, gone when its
// handle closes: its bytes live in memory where the system offers such files, else in the
// system's temporary directory.
SystemError createAnonymousFile(File& file);

// A handle of its own to the file the C runtime descriptor fd has open; fd stays the caller's,
// and reads by offset through the handle never move fd's position. EBADF when fd is not open.
SystemError duplicateDescriptor(int fd, File& file);

// ---- Directories ---------------------------------------------------------------------------

// The working directory, as a handle the directory functions accept; never closed.
NativeHandle workingDirectory();

// Opens the directory at path (relative to the working directory), following symbolic links.
SystemError openDirectory(const std::string& path, Directory& directory);

// Makes the directory at path and each missing one above it, as mkdir -p does, following
// symbolic links on the way. Something already at path is not an error here: opening it as a
// directory afterwards tells whether it is one.
SystemError createDirectories(const std::string& path);

// Opens the directory `name` in parent, following a symbolic link at name (the caller trusts
// it), and makes it first when it is missing and create is set.
SystemError openDirectoryAt(NativeHandle parent, const std::string& name, bool create, Directory& directory);

// Opens the directory `name` in parent, never through a symbolic link (or the system's other
// kinds of redirecting entries): one there is ELOOP. When name is missing it is made first if
// create is set, else ENOENT. Something else at name is ENOTDIR. Another thread making the same
// directory at the same time is not an error.
SystemError openChild(NativeHandle parent, const std::string& name, bool create, Directory& directory);

// An output path this long (in bytes, below and including `data`) or longer is refused as too
// long, on every system alike: Linux's PATH_MAX, well within what Windows takes in its \\?\ form.
inline constexpr size_t kLongestPath = 4096;

// The status of what stands at name in directory: a symbolic link is described, not followed.
// ENOENT when nothing does.
SystemError statusAt(NativeHandle directory, const std::string& name, FileStatus& status);

struct DirectoryEntry {
  std::string name;
  FileStatus status;  // of the entry itself: links are not followed
};

// Lists the directory at path ("." and ".." left out), in the system's order, with each
// entry's status. followLink: path itself may be a symbolic link. When an entry's status cannot
// be read, the listing stops there and failedEntry names it; otherwise failedEntry is empty.
SystemError listDirectory(const std::string& path, bool followLink, std::vector<DirectoryEntry>& entries,
                          std::string& failedEntry);

// The form of a name under which this system's file system finds it: two names with the same
// key are one entry of a directory. The exact bytes on POSIX (name itself is returned); on
// Windows the name upper-cased by the system's table, written into buffer.
std::string_view nameKey(std::string_view name, std::string& buffer);

// False for a name that this system would read as something other than a plain name, so that
// creating it could touch another file or a device: on Windows a ':' (a data stream), the
// characters < > " | ? * and control bytes, a reserved device name (CON, NUL, COM1, ...) with
// or without an extension, a name ending in a dot or a space. Always true on POSIX. ".." is the
// caller's to refuse; "" and "." are allowed.
bool nameAllowed(std::string_view name);

// ---- Publishing extracted files -------------------------------------------------------------

// length bytes of the open file `file` from offset.
struct FileRange {
  NativeHandle file = kNoHandle;
  uint64_t offset = 0;
  uint64_t length = 0;
};

// Bytes made while the file is written (a payload inflated piece by piece): write puts all of
// them into file with writeFully and returns its failure, or one of its own (then nonzero).
// It may be called again for the same file when the first way of publishing gives up; each call
// writes the whole content from its start.
struct ContentWriter {
  SystemError (*write)(void* context, NativeHandle file) = nullptr;
  void* context = nullptr;
};

// The bytes of a file being written: in memory, a range of another file, or made by a writer.
struct Content {
  std::span<const uint8_t> bytes;
  const FileRange* range = nullptr;
  const ContentWriter* writer = nullptr;
};

// Faster ways a system may offer, each cleared at its first refusal, so a run asks once; a
// system without one ignores it. Tests clear them to exercise the ways without.
struct PublishOptions {
  bool unnamedFiles = true;      // a file made without a name and named once written
  bool linkByDescriptor = true;  // naming it by its handle; else through /proc/self/fd
  bool linkThroughProc = true;   // without either, files are written under temporary names
  bool copyInKernel = true;      // ranges copied file to file inside the system
  // Called just before a temporary is renamed to its final name, while a temporary name stands
  // in the directory: lets tests interrupt a run there.
  void (*onTemporaryLinked)() = nullptr;
};

struct Publisher {
  PublishOptions options;
  uint64_t processId = 0;  // in temporary names
};

Publisher makePublisher(const PublishOptions& options);

// Writes content into a new file and publishes it as name in directory atomically: a failed or
// killed run never leaves a partial file under name. What stood at name (a file or a symbolic
// link) is replaced, never written through; a directory there is EISDIR. A range that ends
// early is EIO. A killed run may leave a hidden temporary beside name (sweepTemporaries).
SystemError publishFile(Publisher& publisher, NativeHandle directory, const std::string& name,
                        const Content& content);

// Removes from directory the marked temporaries of runs whose process is gone (never this
// process's). Best effort: a directory that cannot be listed is left as it is.
void sweepTemporaries(const Publisher& publisher, NativeHandle directory);

// Appends content to file at its position; the ranges and options as for publishFile.
SystemError fillFile(NativeHandle file, const Content& content, PublishOptions& options);

// Copies range into file at offset; the position of neither file is used or moved. Inside the
// system where options allow (cleared at its first refusal), else through memory in blocks. A
// range that ends early is EIO.
SystemError copyRangeAt(NativeHandle file, uint64_t offset, const FileRange& range, PublishOptions& options);

// ---- Marking temporaries --------------------------------------------------------------------

// A run's hidden temporaries carry a mark that names them, kept with the file (an extended
// attribute where the file system has them) and set by nothing but oxtrel. A sweep removes a dead
// run's temporary only when it is marked with the name it has now: a real file that merely has a
// temporary's name (an archive entry, say) is never removed, nor is a file published from a
// temporary, whose name is no longer the one marked. Where files cannot be marked, temporaries
// of killed runs stay.

// Marks the open file as the temporary called name. ENOTSUP where files cannot be marked.
SystemError markTemporary(NativeHandle file, const std::string& name);

// Takes the mark off a temporary about to be published. Best effort.
void unmarkTemporary(NativeHandle file);

// Whether the entry name in directory is a file marked as the temporary called name. Links are
// not followed.
bool isMarkedTemporary(NativeHandle directory, const std::string& name);

// ---- Replacing a file by path (the packer's output) ----------------------------------------

// What a file written by path replaces, symbolic links followed as cp follows them.
struct ReplaceTarget {
  std::string path;  // the path given, each symbolic link followed; one to a missing file names it
  bool exists = false;
  FileKind kind = FileKind::other;  // of what stands at path, when exists
  FileIdentity identity;
  // A regular file's permission bits (those of 07777 on POSIX), owner and group: its
  // replacement keeps them.
  uint32_t permissions = 0;
  uint64_t owner = 0;
  uint64_t group = 0;
};

// Follows the symbolic links from path (ELOOP past the system's limit) and describes what stands
// at the end. A missing file is not an error: exists is then false.
SystemError findReplaceTarget(const std::string& path, ReplaceTarget& target);

// Creates a hidden temporary beside finalPath (in its directory, with a name no longer than
// finalPath's), open for writing at any offset. It carries the temporary mark and is held for
// as long as this process lives, and the temporaries that dead runs left in that directory
// (marked, and held by no live process) are removed first.
SystemError createTemporaryBeside(const std::string& finalPath, std::string& temporaryPath, File& file);

// Flushes file to disk, gives it the permissions of the regular file at target (and its owner
// and group when the process may give them) or else those a new file gets, renames
// temporaryPath over target.path and closes it. On failure the temporary is removed.
SystemError commitTemporary(File& file, const std::string& temporaryPath, const ReplaceTarget& target);

// Removes the file at path. Best effort.
void removeFile(const std::string& path);

// ---- Memory -------------------------------------------------------------------------------


// The bytes mapMemory gives for a request of size: whole pages, or whole huge pages for a large
// one. Throws std::bad_alloc when that overflows.
size_t mappedLength(size_t size);

// A mapping of length bytes (from mappedLength) that takes the place of old (oldLength bytes,
// or null): old's contents are not kept, and old is gone once this returns a mapping. Where it
// can, the system grows old in place or moves its pages, so pages already touched are not
// touched again. Null when the memory cannot be had; old then stays as it was.
uint8_t* remapMemory(uint8_t* old, size_t oldLength, size_t length);

// Gives a mapping back.
void unmapMemory(uint8_t* bytes, size_t length);

// ---- The process --------------------------------------------------------------------------

// The CPUs this process may run on (its affinity, where the system has one), at least 1.
unsigned availableCpus();

uint64_t processId();

// True only when no process with this id exists (one that exists but is not ours is alive).
bool processGone(uint64_t id);

}  // namespace oxtrel::platform
