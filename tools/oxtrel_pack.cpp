// oxtrel-pack: packs a directory tree into an archive that oxtrel extracts back into that tree,
// or updates an archive: adds, replaces and removes entries, keeping the others as stored.

#include <getopt.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include <oxtrel/jobs.h>
#include <oxtrel/pack.h>
#include <oxtrel/update.h>

#include "cli/console_lines.h"
#include "cli/job_option.h"
#include "cli/standard_output.h"
#include "cli/stop_signals.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitOutOfMemory = 3;

const char kUsage[] =
    "Usage: oxtrel-pack [-z|--compress] [--level N] [-j|--jobs N] <archive> <directory>\n"
    "       oxtrel-pack --update [--remove PATTERN]... [--to NEW] [--drop-broken] [--level N]\n"
    "                   [-j|--jobs N] <archive> [<directory>]\n";

const char kHelp[] =
    "Packs every regular file below <directory> into <archive>; oxtrel extracts it back.\n"
    "Each directory holding files becomes a folder named by its path below <directory>.\n"
    "Symbolic links are not followed and not packed.\n"
    "\n"
    "  -z, --compress  store every payload as a zlib stream\n"
    "      --level N   compression level with --compress, 1 (fastest) to 12 (smallest); "
    "default 6\n"
    "  -j, --jobs N    threads that compress files with --compress, 1 to 64; default: the CPUs\n"
    "                  this process may run on (the archive is the same for every N)\n"
    "  -h, --help      print this help and exit\n"
    "      --version   print the version and exit\n"
    "\n"
    "Updating: with --update, every file below <directory> replaces the entry at the same path\n"
    "or is added; every other entry is kept, copied as stored (never inflated or compressed\n"
    "again). The archive keeps its compression: new files of a compressed archive are compressed\n"
    "at --level; --compress does not apply. The result is laid out as a fresh pack and replaces\n"
    "<archive> only when complete.\n"
    "      --update          update <archive> instead of packing a new one\n"
    "      --remove PATTERN  remove the entries PATTERN selects (as oxtrel's patterns select);\n"
    "                        repeatable; works without <directory> too\n"
    "      --to NEW          write the result to NEW and leave <archive> as it is\n"
    "      --drop-broken     leave out the entries the archive cannot give back (an unnamed\n"
    "                        record, a payload outside the file) instead of refusing\n";

struct Arguments {
  oxtrel::PackSettings settings{.jobs = 0};  // one thread per CPU unless -j says otherwise
  bool update = false;
  oxtrel::UpdateSettings updateSettings{};  // with --update; jobs and level from settings
  const char* archive = nullptr;
  const char* directory = nullptr;
};

enum class ParseOutcome { run, help, version, usage };

int usageError(const std::string& why) {
  std::fprintf(stderr, "oxtrel-pack: %s\n%s", why.c_str(), kUsage);
  return kExitUsage;
}

bool parseLevel(const char* text, int& level) {
  char* end = nullptr;
  long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0') return false;
  if (value < oxtrel::kMinCompressionLevel || value > oxtrel::kMaxCompressionLevel) return false;
  level = int(value);
  return true;
}

// The operands of --update: the archive, then the directory unless --remove alone is asked for.
ParseOutcome finishUpdateArguments(int argc, char** argv, Arguments& args, std::string& why) {
  if (args.settings.compress) {
    why = "--compress does not apply with --update: the archive keeps its own compression";
    return ParseOutcome::usage;
  }
  int operands = argc - optind;
  if (operands < 1 || operands > 2 || (operands == 1 && args.updateSettings.remove.empty())) {
    why = "expected an archive and a directory (or --remove)";
    return ParseOutcome::usage;
  }
  args.archive = argv[optind];
  if (operands == 2) args.updateSettings.directory = argv[optind + 1];
  args.updateSettings.level = args.settings.level;
  args.updateSettings.jobs = args.settings.jobs;
  return ParseOutcome::run;
}

// Fills args from argv; on ParseOutcome::usage, why says what was wrong.
ParseOutcome parseArguments(int argc, char** argv, Arguments& args, std::string& why) {
  enum { kLevel = 256, kVersion, kUpdate, kRemove, kTo, kDropBroken };
  const option longOptions[] = {{"compress", no_argument, nullptr, 'z'},
                                {"update", no_argument, nullptr, kUpdate},
                                {"remove", required_argument, nullptr, kRemove},
                                {"to", required_argument, nullptr, kTo},
                                {"drop-broken", no_argument, nullptr, kDropBroken},
                                {"level", required_argument, nullptr, kLevel},
                                {"jobs", required_argument, nullptr, 'j'},
                                {"help", no_argument, nullptr, 'h'},
                                {"version", no_argument, nullptr, kVersion},
                                {nullptr, 0, nullptr, 0}};
  opterr = 0;  // messages are ours, without argv[0]'s path
  bool levelGiven = false;
  const char* updateOnly = nullptr;  // an option that means nothing without --update
  int c;
  while ((c = getopt_long(argc, argv, ":zhj:", longOptions, nullptr)) != -1) {
    switch (c) {
      case 'z': args.settings.compress = true; break;
      case kLevel:
        if (!parseLevel(optarg, args.settings.level)) {
          why = "--level takes " + std::to_string(oxtrel::kMinCompressionLevel) + " to " +
                std::to_string(oxtrel::kMaxCompressionLevel) + ", not '" + optarg + "'";
          return ParseOutcome::usage;
        }
        levelGiven = true;
        break;
      case 'j':
        if (!oxtrel::parseJobOption(optarg, args.settings.jobs)) {
          why = "--jobs takes 1 to " + std::to_string(oxtrel::kMaxJobs) + ", not '" + optarg + "'";
          return ParseOutcome::usage;
        }
        break;
      case kUpdate: args.update = true; break;
      case kRemove:
        args.updateSettings.remove.emplace_back(optarg);
        updateOnly = "--remove";
        break;
      case kTo:
        if (*optarg == '\0') {
          why = "--to needs a file name";
          return ParseOutcome::usage;
        }
        args.updateSettings.destination = optarg;
        updateOnly = "--to";
        break;
      case kDropBroken:
        args.updateSettings.dropBroken = true;
        updateOnly = "--drop-broken";
        break;
      case 'h': return ParseOutcome::help;
      case kVersion: return ParseOutcome::version;
      case ':': why = std::string(argv[optind - 1]) + " needs a value"; return ParseOutcome::usage;
      default:
        why = "unknown option '" + (optopt ? std::string("-") + char(optopt) : argv[optind - 1]) + "'";
        return ParseOutcome::usage;
    }
  }
  if (args.update) return finishUpdateArguments(argc, argv, args, why);
  if (updateOnly) {
    why = std::string(updateOnly) + " applies only with --update";
    return ParseOutcome::usage;
  }
  if (levelGiven && !args.settings.compress) {
    why = "--level applies only with --compress";
    return ParseOutcome::usage;
  }
  if (argc - optind != 2) {
    why = "expected an archive and a directory";
    return ParseOutcome::usage;
  }
  args.archive = argv[optind];
  args.directory = argv[optind + 1];
  return ParseOutcome::run;
}

// Names come from the tree and the command line: control bytes in them are escaped as oxtrel
// escapes them, so a crafted name cannot forge or erase a line.
void printLine(std::string_view kind, std::string_view text) {
  std::fprintf(stderr, "oxtrel-pack: %.*s", int(kind.size()), kind.data());
  oxtrel::writeEscaped(stderr, text);
  std::fputc('\n', stderr);
}

// A stop signal ends the pack as it ends oxtrel's run: the temporary is removed, nothing else is
// printed, and the exit status is 128 + the signal's number.
int pack(Arguments& args) {
  oxtrel::catchStopSignals();
  args.settings.stop = &oxtrel::stopSignalFlag();
  oxtrel::Result<oxtrel::PackSummary> summary =
      oxtrel::packDirectory(args.directory, args.archive, args.settings, [](std::string_view note) {
        printLine("note: ", note);
      });
  if (int signal = oxtrel::stopSignal(); signal != 0) return 128 + signal;
  if (!summary) {
    printLine("", oxtrel::message(summary.error()));
    return kExitFailed;
  }
  std::printf("%s: %" PRIu32 " files in %" PRIu32 " folders, %" PRIu64 " bytes in, %" PRIu64
              " bytes out\n",
              args.archive, summary->fileCount, summary->folderCount, summary->bytesIn, summary->bytesOut);
  return kExitOk;
}

int update(Arguments& args) {
  oxtrel::catchStopSignals();
  args.updateSettings.stop = &oxtrel::stopSignalFlag();
  oxtrel::Result<oxtrel::UpdateSummary> summary =
      oxtrel::updateArchive(args.archive, args.updateSettings, [](std::string_view note) {
        printLine("note: ", note);
      });
  if (int signal = oxtrel::stopSignal(); signal != 0) return 128 + signal;
  if (!summary) {
    printLine("", oxtrel::message(summary.error()));
    return kExitFailed;
  }
  std::string written =
      args.updateSettings.destination.empty() ? std::string(args.archive) : args.updateSettings.destination;
  std::printf("%s: %" PRIu32 " files in %" PRIu32 " folders (%" PRIu32 " kept, %" PRIu32 " replaced, %" PRIu32
              " added, %" PRIu32 " removed, %" PRIu32 " dropped), %" PRIu64 " bytes in, %" PRIu64 " bytes out\n",
              written.c_str(), summary->fileCount, summary->folderCount, summary->kept, summary->replaced,
              summary->added, summary->removed, summary->dropped + summary->superseded, summary->bytesIn,
              summary->bytesOut);
  return kExitOk;
}

int run(int argc, char** argv) {
  Arguments args;
  std::string why;
  switch (parseArguments(argc, argv, args, why)) {
    case ParseOutcome::usage: return usageError(why);
    case ParseOutcome::help: std::printf("%s\n%s", kUsage, kHelp); return kExitOk;
    case ParseOutcome::version: std::printf("oxtrel-pack %s\n", OXTREL_VERSION); return kExitOk;
    case ParseOutcome::run: break;
  }
  try {
    return args.update ? update(args) : pack(args);
  } catch (const std::bad_alloc&) {
    std::fputs("oxtrel-pack: out of memory\n", stderr);
    return kExitOutOfMemory;
  }
}

}  // namespace

int main(int argc, char** argv) {
  oxtrel::guardStandardDescriptors();
  int status = run(argc, argv);
  if (!oxtrel::closeStandardOutput("oxtrel-pack") && status == kExitOk) status = kExitFailed;
  return status;
}
