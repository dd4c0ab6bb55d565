// The Python module's native half: thin bindings over the public interface. Failures leave as one
// exception, _oxtrel.Failure(kind, message); the package's Python half turns the kind into the
// matching oxtrel.Error subclass. Work that touches the archive or the disk runs without the GIL.
// Names, paths, notes and messages cross as bytes, never as text: an archive's names need not be
// UTF-8, and the Python half decodes them as the standard library decodes file names.

#include <oxtrel/oxtrel.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <span>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <vector>

namespace py = pybind11;

namespace {

struct Failure {
  std::string kind;
  std::string text;
  int systemError = 0;  // errno when the system refused
  std::string where{};  // the file concerned, when the system refused
};

const char* kindName(oxtrel::ErrorKind kind) {
  switch (kind) {
    case oxtrel::ErrorKind::cannotOpen: return "cannotOpen";
    case oxtrel::ErrorKind::cannotRead: return "cannotRead";
    case oxtrel::ErrorKind::cannotWrite: return "cannotWrite";
    case oxtrel::ErrorKind::truncated: return "truncated";
    case oxtrel::ErrorKind::unsafePath: return "unsafePath";
    case oxtrel::ErrorKind::unpackFailed: return "unpackFailed";
    case oxtrel::ErrorKind::unstorableName: return "unstorableName";
    case oxtrel::ErrorKind::nameCollision: return "nameCollision";
    case oxtrel::ErrorKind::folderNameTooLong: return "folderNameTooLong";
    case oxtrel::ErrorKind::tooLarge: return "tooLarge";
    case oxtrel::ErrorKind::invalidArgument: return "invalidArgument";
    case oxtrel::ErrorKind::notFound: return "notFound";
    case oxtrel::ErrorKind::stopped: return "stopped";
    case oxtrel::ErrorKind::notAnArchive: return "notAnArchive";
    case oxtrel::ErrorKind::brokenEntries: return "brokenEntries";
  }
  return "error";
}

// context names the archive or the output when the error's own text does not.
[[noreturn]] void fail(const oxtrel::Error& error, const std::string& context = {}) {
  std::string text = oxtrel::message(error);
  if (!context.empty() && error.kind != oxtrel::ErrorKind::cannotOpen) text = context + ": " + text;
  std::string where = error.systemError == 0 ? std::string() : error.where.empty() ? context : error.where;
  throw Failure{kindName(error.kind), text, error.systemError, std::move(where)};
}

// Shared, so a close() on one thread cannot pull the archive from under a read on another.
struct OpenArchive {
  std::shared_ptr<const oxtrel::Archive> archive;

  std::shared_ptr<const oxtrel::Archive> get() const {
    if (!archive) throw Failure{"invalidArgument", "the archive is closed"};
    return archive;
  }
};

py::bytes asBytes(std::string_view text) { return py::bytes(text.data(), text.size()); }

using EntryTuple = std::tuple<py::bytes, std::optional<py::bytes>, py::bytes, py::bytes, uint32_t, uint32_t,
                              std::optional<uint32_t>, bool>;

OpenArchive openArchive(const std::string& path) {
  std::optional<oxtrel::Result<oxtrel::Archive>> opened;
  {
    py::gil_scoped_release released;
    opened.emplace(oxtrel::openArchive(path));
  }
  if (!*opened) fail(opened->error(), path);
  return {std::make_shared<const oxtrel::Archive>(std::move(opened->value()))};
}

OpenArchive adopt(oxtrel::Result<oxtrel::Archive>& opened, const std::string& name) {
  if (!opened) fail(opened.error(), name);
  return {std::make_shared<const oxtrel::Archive>(std::move(opened.value()))};
}

// A descriptor the caller keeps; the archive reads through its own duplicate.
OpenArchive openDescriptor(int fd, const std::string& name) {
  std::optional<oxtrel::Result<oxtrel::Archive>> opened;
  {
    py::gil_scoped_release released;
    opened.emplace(oxtrel::openArchiveFromDescriptor(fd, name));
  }
  return adopt(*opened, name);
}

// A buffer's bytes; the archive keeps its own copy, so the buffer may change or go afterwards.
OpenArchive openMemory(const py::buffer& contents, const std::string& name) {
  Py_buffer view;
  if (PyObject_GetBuffer(contents.ptr(), &view, PyBUF_C_CONTIGUOUS) != 0) throw py::error_already_set();
  std::optional<oxtrel::Result<oxtrel::Archive>> opened;
  {
    py::gil_scoped_release released;
    opened.emplace(oxtrel::openArchiveFromMemory(
        std::span<const uint8_t>(static_cast<const uint8_t*>(view.buf), size_t(view.len)), name));
  }
  PyBuffer_Release(&view);
  return adopt(*opened, name);
}

size_t entryCount(const OpenArchive& open) { return oxtrel::entryCount(*open.get()); }

EntryTuple entryTuple(const oxtrel::Entry& e) {
  return {asBytes(e.folder), e.name ? std::optional<py::bytes>(asBytes(*e.name)) : std::nullopt, asBytes(e.path),
          py::bytes(reinterpret_cast<const char*>(e.hash.data()), e.hash.size()), e.offset, e.storedSize,
          e.unpackedSize, e.compressed};
}

// One record made on demand: a listing holds no more entries than its caller keeps.
EntryTuple entryAt(const OpenArchive& open, size_t index) {
  auto archive = open.get();
  if (index >= oxtrel::entryCount(*archive)) throw Failure{"invalidArgument", "no entry number " + std::to_string(index)};
  return entryTuple(oxtrel::entryAt(*archive, index));
}

// Every named entry's path, in table order.
std::vector<py::bytes> entryPathList(const OpenArchive& open) {
  auto archive = open.get();
  std::vector<std::string> paths;
  {
    py::gil_scoped_release released;
    for (const oxtrel::Entry& entry : oxtrel::entries(*archive))
      if (entry.name) paths.push_back(entry.path);
  }
  std::vector<py::bytes> listed;
  listed.reserve(paths.size());
  for (const std::string& path : paths) listed.push_back(asBytes(path));
  return listed;
}

std::optional<size_t> findEntry(const OpenArchive& open, const std::string& path) {
  auto archive = open.get();
  std::optional<oxtrel::Entry> entry;
  {
    py::gil_scoped_release released;
    entry = oxtrel::findEntry(*archive, path);
  }
  if (!entry) return std::nullopt;
  return entry->index;
}

py::bytes readEntry(const OpenArchive& open, size_t index) {
  auto archive = open.get();
  if (index >= oxtrel::entryCount(*archive)) throw Failure{"invalidArgument", "no entry number " + std::to_string(index)};
  std::optional<oxtrel::Result<std::vector<uint8_t>>> bytes;
  {
    py::gil_scoped_release released;
    bytes.emplace(oxtrel::readEntry(*archive, oxtrel::entryAt(*archive, index)));
  }
  if (!*bytes) fail(bytes->error(), oxtrel::archivePath(*archive));
  return py::bytes(reinterpret_cast<const char*>((*bytes)->data()), (*bytes)->size());
}

// One entry's contents, read as they are asked for. It shares the archive, so it keeps reading
// after Archive.close() until it is closed itself. Its lock keeps two threads from moving one
// reader at once; it is taken without the GIL, so a thread waiting for it never holds the GIL.
struct EntryFile {
  std::shared_ptr<const oxtrel::Archive> archive;
  std::optional<oxtrel::EntryReader> reader;  // none once closed
  std::mutex lock;
};

std::unique_lock<std::mutex> lockReader(EntryFile& file) {
  std::unique_lock<std::mutex> guard(file.lock, std::defer_lock);
  {
    py::gil_scoped_release released;
    guard.lock();
  }
  if (!file.reader) throw Failure{"invalidArgument", "I/O operation on closed file."};
  return guard;
}

std::unique_ptr<EntryFile> openEntryFile(const OpenArchive& open, size_t index) {
  auto archive = open.get();
  if (index >= oxtrel::entryCount(*archive)) throw Failure{"invalidArgument", "no entry number " + std::to_string(index)};
  std::optional<oxtrel::Result<oxtrel::EntryReader>> opened;
  {
    py::gil_scoped_release released;
    opened.emplace(oxtrel::openEntryReader(*archive, oxtrel::entryAt(*archive, index)));
  }
  if (!*opened) fail(opened->error(), oxtrel::archivePath(*archive));
  auto file = std::make_unique<EntryFile>();
  file->archive = std::move(archive);
  file->reader.emplace(std::move(opened->value()));
  return file;
}

size_t readInto(EntryFile& file, const py::object& target) {
  Py_buffer view;
  if (PyObject_GetBuffer(target.ptr(), &view, PyBUF_WRITABLE | PyBUF_C_CONTIGUOUS) != 0) throw py::error_already_set();
  std::unique_ptr<Py_buffer, void (*)(Py_buffer*)> held(&view, PyBuffer_Release);
  auto guard = lockReader(file);
  std::optional<oxtrel::Result<size_t>> got;
  {
    py::gil_scoped_release released;
    got.emplace(oxtrel::read(*file.reader, std::span<std::byte>(static_cast<std::byte*>(view.buf), size_t(view.len))));
  }
  if (!*got) fail(got->error(), oxtrel::archivePath(*file.archive));
  return **got;
}

// The rest of the contents in one bytes object, filled in place: the size announced is only a
// hint (a damaged payload may give fewer bytes), so the object grows as the bytes come.
py::bytes readAll(EntryFile& file) {
  constexpr size_t kFirstAllocation = size_t(64) << 20;
  auto guard = lockReader(file);
  const uint64_t position = oxtrel::position(*file.reader);
  const uint64_t size = oxtrel::decodedSize(*file.reader);
  size_t capacity = size_t(std::min<uint64_t>(size > position ? size - position : 0, kFirstAllocation)) + 1;
  PyObject* out = PyBytes_FromStringAndSize(nullptr, Py_ssize_t(capacity));
  if (!out) throw py::error_already_set();
  size_t filled = 0;
  for (;;) {
    if (filled == capacity) {
      capacity *= 2;
      if (_PyBytes_Resize(&out, Py_ssize_t(capacity)) != 0) throw py::error_already_set();
    }
    std::optional<oxtrel::Result<size_t>> got;
    {
      py::gil_scoped_release released;
      got.emplace(oxtrel::read(*file.reader, std::span<std::byte>(
                                                 reinterpret_cast<std::byte*>(PyBytes_AS_STRING(out)) + filled,
                                                 capacity - filled)));
    }
    if (!*got) {
      Py_DECREF(out);
      fail(got->error(), oxtrel::archivePath(*file.archive));
    }
    if (**got == 0) break;
    filled += **got;
  }
  if (_PyBytes_Resize(&out, Py_ssize_t(filled)) != 0) throw py::error_already_set();
  return py::reinterpret_steal<py::bytes>(out);
}

void seekTo(EntryFile& file, uint64_t target) {
  auto guard = lockReader(file);
  std::optional<oxtrel::Status> moved;
  {
    py::gil_scoped_release released;  // going back in a compressed entry inflates it again
    moved.emplace(oxtrel::seek(*file.reader, target));
  }
  if (!*moved) fail(moved->error(), oxtrel::archivePath(*file.archive));
}

void closeEntryFile(EntryFile& file) {
  std::unique_lock<std::mutex> guard(file.lock, std::defer_lock);
  {
    py::gil_scoped_release released;
    guard.lock();
  }
  file.reader.reset();
  file.archive.reset();
}

const char* eventName(oxtrel::ExtractEventKind kind) {
  switch (kind) {
    case oxtrel::ExtractEventKind::entry: return "entry";
    case oxtrel::ExtractEventKind::unmatched: return "unmatched";
    case oxtrel::ExtractEventKind::unsafePath: return "unsafe path";
    case oxtrel::ExtractEventKind::truncatedPayload: return "truncated payload";
    case oxtrel::ExtractEventKind::unpackFailed: return "cannot unpack";
    case oxtrel::ExtractEventKind::possiblyPacked: return "possibly packed";
    case oxtrel::ExtractEventKind::cannotWrite: return "cannot write";
    case oxtrel::ExtractEventKind::keptExisting: return "kept existing";
  }
  return "event";
}

using ProblemList = std::vector<std::pair<std::string, py::bytes>>;

// An event's console path "data\<folder>\<name>" as Entry::path spells it. Only a path whose
// folder is empty or begins with '\' cannot be told from its text; those are looked up.
std::vector<std::string> entryPaths(const oxtrel::Archive& archive, std::vector<std::string> consolePaths) {
  constexpr size_t kBelowData = sizeof "data\\" - 1;
  std::unordered_map<std::string, std::vector<size_t>> unsure;  // "/<path>" -> places
  for (size_t i = 0; i < consolePaths.size(); ++i) {
    std::string& path = consolePaths[i];
    path.erase(0, std::min(kBelowData, path.size()));
    for (char& c : path)
      if (c == '\\') c = '/';
    if (!path.empty() && path.front() == '/') unsure[path].push_back(i);
  }
  if (unsure.empty()) return consolePaths;
  for (const oxtrel::Entry& entry : oxtrel::entries(archive)) {
    if (!entry.name || !entry.folder.empty()) continue;
    auto found = unsure.find("/" + entry.path);
    if (found == unsure.end()) continue;
    for (size_t i : found->second) consolePaths[i] = entry.path;
    unsure.erase(found);
    if (unsure.empty()) break;
  }
  return consolePaths;
}

// (written, kept, [(problem, path)], unused patterns). A record without a name is named by its
// folder as stored, having no path.
std::tuple<uint64_t, uint64_t, ProblemList, std::vector<py::bytes>> extractEntries(
    const OpenArchive& open, const oxtrel::ExtractSettings& settings) {
  auto archive = open.get();
  std::vector<const char*> kinds;
  std::vector<std::string> paths;
  std::vector<std::pair<size_t, std::string>> unmatched;  // (place among the problems, folder)
  std::optional<oxtrel::Result<oxtrel::ExtractReport>> report;
  {
    py::gil_scoped_release released;
    report.emplace(oxtrel::extract(*archive, settings, [&](const oxtrel::ExtractEvent& event) {
      if (event.kind == oxtrel::ExtractEventKind::entry || event.kind == oxtrel::ExtractEventKind::keptExisting) return;
      kinds.push_back(eventName(event.kind));
      if (event.kind == oxtrel::ExtractEventKind::unmatched) {
        unmatched.emplace_back(kinds.size() - 1, std::string(event.folder));
        paths.emplace_back();
      } else {
        paths.emplace_back(event.path);
      }
    }));
    if (*report) paths = entryPaths(*archive, std::move(paths));
  }
  if (!*report) fail(report->error(), oxtrel::archivePath(*archive));
  for (auto& [place, folder] : unmatched) paths[place] = std::move(folder);
  ProblemList problems;
  for (size_t i = 0; i < kinds.size(); ++i) problems.emplace_back(kinds[i], asBytes(paths[i]));
  std::vector<py::bytes> unused;
  for (const std::string& pattern : (*report)->unusedPatterns) unused.push_back(asBytes(pattern));
  return {(*report)->written, (*report)->kept, std::move(problems), std::move(unused)};
}

using PackTuple = std::tuple<uint32_t, uint32_t, uint64_t, uint64_t, std::vector<py::bytes>>;

// Runs a pack without the GIL, collecting its notes for the report.
template <class Pack>
PackTuple packed(const std::string& archivePath, Pack pack) {
  std::vector<std::string> notes;
  std::optional<oxtrel::Result<oxtrel::PackSummary>> summary;
  {
    py::gil_scoped_release released;
    summary.emplace(pack([&notes](std::string_view note) { notes.emplace_back(note); }));
  }
  if (!*summary) fail(summary->error(), archivePath);
  std::vector<py::bytes> noteBytes;
  for (const std::string& note : notes) noteBytes.push_back(asBytes(note));
  return {(*summary)->fileCount, (*summary)->folderCount, (*summary)->bytesIn, (*summary)->bytesOut,
          std::move(noteBytes)};
}

PackTuple packTree(const std::string& directory, const std::string& archivePath,
                   const oxtrel::PackSettings& settings) {
  return packed(archivePath, [&](const oxtrel::PackNoteCallback& onNote) {
    return oxtrel::packDirectory(directory, archivePath, settings, onNote);
  });
}

// items: (path, bytes or None, source file or ""). The bytes objects are immutable and held by
// items for the whole call, so their buffers are read without the GIL.
PackTuple packList(const std::vector<std::tuple<std::string, std::optional<py::bytes>, std::string>>& items,
                   const std::string& archivePath, const oxtrel::PackSettings& settings) {
  std::vector<oxtrel::PackInput> inputs;
  for (const auto& [path, bytes, source] : items) {
    oxtrel::PackInput input{path, {}, source};
    if (bytes) {
      char* data = nullptr;
      Py_ssize_t size = 0;
      if (PyBytes_AsStringAndSize(bytes->ptr(), &data, &size) != 0) throw py::error_already_set();
      input.bytes = {reinterpret_cast<const uint8_t*>(data), size_t(size)};
    }
    inputs.push_back(std::move(input));
  }
  return packed(archivePath, [&](const oxtrel::PackNoteCallback& onNote) {
    return oxtrel::packEntries(inputs, archivePath, settings, onNote);
  });
}

oxtrel::PackSettings packSettings(bool compress, int level, unsigned jobs) { return {compress, level, jobs}; }

// ("A" | "D" | "M", path) per change, sorted by path.
std::vector<std::pair<std::string, py::bytes>> diffArchives(const OpenArchive& older, const OpenArchive& newer) {
  auto before = older.get(), after = newer.get();
  std::optional<oxtrel::Result<std::vector<oxtrel::ArchiveChange>>> changes;
  {
    py::gil_scoped_release released;
    changes.emplace(oxtrel::diffArchives(*before, *after));
  }
  if (!*changes) fail((*changes).error());
  std::vector<std::pair<std::string, py::bytes>> listed;
  listed.reserve((*changes)->size());
  for (const oxtrel::ArchiveChange& change : **changes)
    listed.emplace_back(std::string(1, static_cast<char>(change.kind)), asBytes(change.path));
  return listed;
}

// kept, added, replaced, removed, dropped, superseded, files, folders, bytes in, bytes out, notes.
using UpdateTuple = std::tuple<uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t,
                               uint64_t, uint64_t, std::vector<py::bytes>>;

// Runs an update without the GIL, collecting its notes for the report.
UpdateTuple updateWithNotes(const std::string& archivePath, const oxtrel::UpdateSettings& settings) {
  std::vector<std::string> notes;
  std::optional<oxtrel::Result<oxtrel::UpdateSummary>> summary;
  {
    py::gil_scoped_release released;
    summary.emplace(oxtrel::updateArchive(archivePath, settings, [&notes](std::string_view note) {
      notes.emplace_back(note);
    }));
  }
  if (!*summary) fail(summary->error(), archivePath);
  std::vector<py::bytes> noteBytes;
  for (const std::string& note : notes) noteBytes.push_back(asBytes(note));
  const oxtrel::UpdateSummary& done = **summary;
  return {done.kept,      done.added,       done.replaced, done.removed,  done.dropped,         done.superseded,
          done.fileCount, done.folderCount, done.bytesIn,  done.bytesOut, std::move(noteBytes)};
}

}  // namespace

PYBIND11_MODULE(_oxtrel, m) {
  m.doc() = "Native half of the oxtrel package; use the oxtrel package instead.";
  m.attr("version") = oxtrel::kVersion;
  static py::exception<Failure> failure(m, "Failure");
  py::register_exception_translator([](std::exception_ptr raised) {
    try {
      if (raised) std::rethrow_exception(raised);
    } catch (const Failure& f) {
      PyErr_SetObject(failure.ptr(), py::make_tuple(f.kind, py::bytes(f.text), f.systemError, py::bytes(f.where)).ptr());
    }
  });

  py::class_<OpenArchive>(m, "Archive")
      .def("count", &entryCount)
      .def("entry", &entryAt)
      .def("find", &findEntry)
      .def("paths", &entryPathList)
      .def("read", &readEntry)
      .def("extract",
           [](const OpenArchive& open, std::string destination, std::vector<std::string> patterns,
              std::vector<std::string> excludes, std::vector<size_t> entries, bool keepExisting, unsigned jobs,
              bool testOnly) {
             oxtrel::ExtractSettings settings;
             settings.destination = std::move(destination);
             settings.patterns = std::move(patterns);
             settings.excludes = std::move(excludes);
             settings.entries = std::move(entries);
             settings.keepExisting = keepExisting;
             settings.jobs = jobs;
             settings.testOnly = testOnly;
             return extractEntries(open, settings);
           })
      .def("open_entry", &openEntryFile)
      .def("close", [](OpenArchive& open) { open.archive.reset(); });
  py::class_<EntryFile>(m, "EntryFile")
      .def("readinto", &readInto)
      .def("read_all", &readAll)
      .def("seek", &seekTo)
      .def("tell", [](EntryFile& file) {
             auto guard = lockReader(file);
             return oxtrel::position(*file.reader);
           })
      .def("size", [](EntryFile& file) { auto guard = lockReader(file); return oxtrel::decodedSize(*file.reader); })
      .def("close", &closeEntryFile);
  m.def("open", &openArchive);
  m.def("diff", &diffArchives);
  m.def("open_descriptor", &openDescriptor);
  m.def("open_memory", &openMemory);
  m.def("pack_directory", [](const std::string& directory, const std::string& archive, bool compress, int level,
                             unsigned jobs) { return packTree(directory, archive, packSettings(compress, level, jobs)); });
  m.def("pack_entries",
        [](const std::vector<std::tuple<std::string, std::optional<py::bytes>, std::string>>& items,
           const std::string& archive, bool compress, int level, unsigned jobs) {
          return packList(items, archive, packSettings(compress, level, jobs));
        });
  m.def("update", [](const std::string& archive, std::string directory, std::vector<std::string> remove,
                     std::string to, bool dropBroken, int level, unsigned jobs) {
    oxtrel::UpdateSettings settings{std::move(directory), std::move(remove), std::move(to), dropBroken, level, jobs};
    return updateWithNotes(archive, settings);
  });
}
