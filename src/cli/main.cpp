// oxtrel: extracts, tests, lists or streams the files of an archive.

#include <getopt.h>

#include <cstdio>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "cli/command_run.h"
#include "cli/console_lines.h"
#include "cli/diff_run.h"
#include "cli/progress_line.h"
#include "cli/standard_output.h"
#include "cli/stop_signals.h"
#include "platform/console.h"
#include <oxtrel/jobs.h>

#include "cli/job_option.h"

namespace {

using namespace oxtrel;

const char kUsage[] = "Usage: oxtrel [OPTION]... <vrkfile> [PATTERN]...\n";

const char kHelp[] =
    "Extracts the files of a .vrk archive into ./data, rebuilding its folder tree there.\n"
    "PATTERNs pick entries by their path below data, folder/sub/name.ext, as ignore files do: one\n"
    "without '/' matches a name or a folder at any level ('*.dds', 'readme.txt'); one with '/' inside\n"
    "or in front is anchored at the top ('meshes/props', '/readme.txt'); a folder matched selects\n"
    "everything below it ('textures', 'meshes/*'); a trailing '/' matches folders only. '*' and '?'\n"
    "stay within one level, '**' crosses levels, [...] is a class, letters match either case. '\\'\n"
    "is a separator as '/' is ('textures\\ui'), except before * ? [ ] where it makes them literal.\n"
    "\n"
    "  -l, --list            list entries, sizes and totals; write nothing  oxtrel -l a.vrk\n"
    "      --json            JSON Lines: alone or with --list, one object per record; with --test,\n"
    "                        --to-stdout (on standard error) or --extract, one per entry's outcome;\n"
    "                        with --diff, one per change\n"
    "                                                                       oxtrel --json a.vrk\n"
    "      --names           alone or with --list: the selected entries' paths alone, one per line,\n"
    "                        '/' separators                                 oxtrel --names a.vrk '*.dds'\n"
    "  -t, --test            read and check every entry; write nothing (a stored entry has no\n"
    "                        checksum: only that it lies inside the archive)  oxtrel -t a.vrk\n"
    "      --extract         extract, as with no mode option (for --json)   oxtrel --extract --json a.vrk\n"
    "  -C, --directory=DIR   put data in DIR, made with parents if missing  oxtrel -C /tmp/out a.vrk\n"
    "  -x, --exclude=PATTERN leave out the entries PATTERN matches          oxtrel a.vrk -x '*.wav'\n"
    "      --diff OLD NEW    compare two archives by content: A, D or M and the path for each\n"
    "                        entry added, removed or modified, sorted by path; PATTERNs after\n"
    "                        them and -x narrow it                          oxtrel --diff old.vrk new.vrk\n"
    "  -O, --to-stdout       entries' contents to standard output, lines to standard error\n"
    "                                                                       oxtrel -O a.vrk 'ui/logo.dds' > logo.dds\n"
    "  -k, --keep-existing   never replace a file that exists               oxtrel -k a.vrk\n"
    "  -q, --quiet           no entry lines; warnings and errors remain     oxtrel -q a.vrk\n"
    "  -j, --jobs=N          N threads extract or test entries (default: one per CPU, at most 64);\n"
    "                        the lines and the tree are the same for every N  oxtrel -j 1 a.vrk\n"
    "      --progress        a progress line on standard error, always      oxtrel --progress a.vrk\n"
    "      --no-progress     no progress line, even on a terminal           oxtrel --no-progress a.vrk\n"
    "  -h, --help            print this help and exit\n"
    "      --version         print the version and exit\n"
    "\n"
    "Exit status: 0 nothing reported; 1 any Warning or Error line, the archive cannot be read, a\n"
    "pattern matched nothing, or standard output could not be written; 2 wrong usage; 3 out of memory.\n"
    "With --diff: 0 when both archives hold the same files, 1 when they differ or cannot be read.\n";

enum class ParseOutcome { run, help, version, usage };

struct Arguments {
  CommandOptions options;
  const char* archive = nullptr;
  bool json = false;
  bool names = false;
  bool extractGiven = false;  // --extract: the default mode, asked for by name
  bool quiet = false;
  bool diff = false;              // compare the first two operands; the rest are patterns
  const char* newer = nullptr;    // with --diff, the archive compared with `archive`
  int progress = -1;  // -1 automatic, 0 off, 1 forced
  std::string why;    // what was wrong, for ParseOutcome::usage
};

const char* modeOption(CommandMode mode) {
  switch (mode) {
    case CommandMode::list: return "--list";
    case CommandMode::json: return "--json";
    case CommandMode::names: return "--names";
    case CommandMode::test: return "--test";
    case CommandMode::toStdout: return "--to-stdout";
    case CommandMode::extract: return "--extract";
  }
  return "";
}

// Records a mode option; two different ones cannot go together. --json is not one: it refines
// the mode (see parseArguments).
bool setMode(Arguments& args, CommandMode mode) {
  CommandMode& current = args.options.mode;
  if (current == mode || (current == CommandMode::extract && !args.extractGiven)) {
    current = mode;
    return true;
  }
  args.why = std::string(modeOption(current)) + " and " + modeOption(mode) + " cannot go together";
  return false;
}

// How the user wrote the option whose value getopt has just taken: "--dir" of "--dir=x" or of
// "--dir x", else "-" and its letter.
std::string writtenOption(char** argv, char letter) {
  std::string_view arg = argv[optind - 1];
  if (arg.data() == optarg && optind >= 2) arg = argv[optind - 2];  // the value came as its own argument
  if (arg.starts_with("--")) return std::string(arg.substr(0, arg.find('=')));
  return std::string("-") + letter;
}

// Why getopt refused the option just read, naming it as the user wrote it. A long option's
// refusal always moves optind past it; getopt leaves optopt 0 for one it does not know or cannot
// tell apart, and the option's value for one given a value it does not take.
std::string refusal(char** argv, const option* longOptions) {
  const option* valued = nullptr;
  for (const option* o = longOptions; o->name && optopt != 0; ++o)
    if (o->val == optopt && o->has_arg == no_argument) valued = o;
  if (optopt != 0 && !valued) return std::string("unknown option '-") + char(optopt) + "'";
  std::string_view written = argv[optind - 1];
  if (valued) return "option '" + std::string(written) + "': --" + valued->name + " takes no value";
  std::string_view name = written.substr(2, written.find('=') - 2);
  std::string candidates;
  int count = 0;
  for (const option* o = longOptions; o->name; ++o) {
    if (!std::string_view(o->name).starts_with(name)) continue;
    candidates += std::string(count++ ? ", --" : "--") + o->name;
  }
  if (count > 1 && !name.empty()) return "ambiguous option '" + std::string(written) + "': " + candidates;
  return "unknown option '" + std::string(written) + "'";
}

// --diff reads two archives and writes nothing: of the other options it takes patterns, -x and
// --json (and ignores -q and the progress options).
ParseOutcome checkDiffArguments(Arguments& args, const std::vector<const char*>& operands) {
  const CommandOptions& o = args.options;
  const char* other = o.mode != CommandMode::extract ? modeOption(o.mode)
                      : args.extractGiven            ? "--extract"
                      : !o.directory.empty()         ? "--directory"
                      : o.keepExisting               ? "--keep-existing"
                      : o.jobs != 0                  ? "--jobs"
                                                     : nullptr;
  if (other) {
    args.why = std::string("--diff and ") + other + " cannot go together";
    return ParseOutcome::usage;
  }
  if (operands.size() < 2) {
    args.why = "--diff needs two archives";
    return ParseOutcome::usage;
  }
  args.archive = operands[0];
  args.newer = operands[1];
  args.options.includes.assign(operands.begin() + 2, operands.end());
  return ParseOutcome::run;
}

ParseOutcome parseArguments(int argc, char** argv, Arguments& args) {
  enum { kJson = 256, kExtract, kProgress, kNoProgress, kVersion, kDiff, kNames };
  const option longOptions[] = {{"list", no_argument, nullptr, 'l'},
                                {"json", no_argument, nullptr, kJson},
                                {"names", no_argument, nullptr, kNames},
                                {"diff", no_argument, nullptr, kDiff},
                                {"test", no_argument, nullptr, 't'},
                                {"extract", no_argument, nullptr, kExtract},
                                {"directory", required_argument, nullptr, 'C'},
                                {"exclude", required_argument, nullptr, 'x'},
                                {"to-stdout", no_argument, nullptr, 'O'},
                                {"keep-existing", no_argument, nullptr, 'k'},
                                {"quiet", no_argument, nullptr, 'q'},
                                {"jobs", required_argument, nullptr, 'j'},
                                {"progress", no_argument, nullptr, kProgress},
                                {"no-progress", no_argument, nullptr, kNoProgress},
                                {"help", no_argument, nullptr, 'h'},
                                {"version", no_argument, nullptr, kVersion},
                                {nullptr, 0, nullptr, 0}};
  opterr = 0;  // messages are ours, without argv[0]'s path
  // The leading '-' hands operands back in place (as 1), so options may follow the archive
  // whatever the environment says (POSIXLY_CORRECT would otherwise end the options there).
  std::vector<const char*> operands;
  int c;
  while ((c = getopt_long(argc, argv, "-:ltC:x:Okqj:h", longOptions, nullptr)) != -1) {
    switch (c) {
      case 1: operands.push_back(optarg); break;
      case 'l':
        if (!setMode(args, CommandMode::list)) return ParseOutcome::usage;
        break;
      case kJson: args.json = true; break;
      case kExtract:
        if (!setMode(args, CommandMode::extract)) return ParseOutcome::usage;
        args.extractGiven = true;
        break;
      case kNames: args.names = true; break;
      case 't':
        if (!setMode(args, CommandMode::test)) return ParseOutcome::usage;
        break;
      case 'O':
        if (!setMode(args, CommandMode::toStdout)) return ParseOutcome::usage;
        break;
      case 'C':
        // An empty name would quietly mean the working directory.
        if (*optarg == '\0') {
          args.why = writtenOption(argv, 'C') + " needs a directory, not an empty name";
          return ParseOutcome::usage;
        }
        args.options.directory = optarg;
        break;
      case 'x': args.options.excludes.emplace_back(optarg); break;
      case 'k': args.options.keepExisting = true; break;
      case kDiff: args.diff = true; break;
      case 'q': args.quiet = true; break;
      case 'j':
        if (!parseJobOption(optarg, args.options.jobs)) {
          args.why = "invalid number of jobs '" + std::string(optarg) + "' (1 to " + std::to_string(kMaxJobs) + ")";
          return ParseOutcome::usage;
        }
        break;
      case kProgress: args.progress = 1; break;
      case kNoProgress: args.progress = 0; break;
      case 'h': return ParseOutcome::help;
      case kVersion: return ParseOutcome::version;
      case ':': {
        std::string_view arg = argv[optind - 1];
        args.why = (arg.starts_with("--") ? std::string(arg) : std::string("-") + char(optopt)) + " needs a value";
        return ParseOutcome::usage;
      }
      default: args.why = refusal(argv, longOptions); return ParseOutcome::usage;
    }
  }
  for (int i = optind; i < argc; ++i) operands.push_back(argv[i]);  // those after "--"
  // --names alone or with --list is the names-only listing; it goes with no other mode.
  CommandMode& mode = args.options.mode;
  if (args.names) {
    const bool listing = mode == CommandMode::list || (mode == CommandMode::extract && !args.extractGiven);
    if (args.json || !listing) {
      args.why = std::string("--names and ") + (args.json ? "--json" : modeOption(mode)) + " cannot go together";
      return ParseOutcome::usage;
    }
    mode = CommandMode::names;
  }
  if (args.diff) return checkDiffArguments(args, operands);
  // --json alone or with --list is the JSON listing; with another mode, that mode's outcomes.
  if (args.json && (mode == CommandMode::list || (mode == CommandMode::extract && !args.extractGiven)))
    mode = CommandMode::json;
  else
    args.options.outcomesAsJson = args.json;
  if (operands.empty()) {
    args.why = "no archive given";
    return ParseOutcome::usage;
  }
  args.archive = operands[0];
  args.options.includes.assign(operands.begin() + 1, operands.end());
  return ParseOutcome::run;
}

int run(Arguments& args) {
  const CommandOptions& options = args.options;
  if (args.diff) return runDiff(args.archive, args.newer, {options.includes, options.excludes, args.json}, stdout, stderr);
  bool listing = options.mode == CommandMode::list || options.mode == CommandMode::json ||
                 options.mode == CommandMode::names;
  bool automatic = !listing && platform::isTerminal(platform::StandardStream::error) && (!platform::isTerminal(platform::StandardStream::output) || args.quiet);

  Console console;
  console.quiet = args.quiet;
  console.json = options.mode == CommandMode::json;
  // Standard output carries only data or JSON in these modes; every line goes to standard error.
  if (options.mode == CommandMode::toStdout || options.mode == CommandMode::json || options.outcomesAsJson ||
      options.mode == CommandMode::names)
    console.lines = stderr;
  // -O's outcomes join the lines on standard error: standard output carries the contents.
  if (options.mode == CommandMode::toStdout && options.outcomesAsJson) console.listing = stderr;
  ProgressLine progress;
  if (args.progress == 1 || (args.progress == -1 && automatic)) {
    console.progress = &progress;
    FILE* perEntry = options.outcomesAsJson ? console.listing : console.lines;
    console.linesShareProgressTerminal = perEntry == stderr || platform::isTerminal(platform::StandardStream::output);
  }
  // A listing writes nothing that a signal could leave half done.
  if (!listing) catchStopSignals();
  return runCommand(args.archive, args.archive, options, console, stdout);
}

int dispatch(int argc, char** argv) {
  if (argc == 1) {
    std::fputs(kUsage, stdout);
    return kExitUsage;
  }
  try {
    Arguments args;
    switch (parseArguments(argc, argv, args)) {
      case ParseOutcome::usage: std::fprintf(stderr, "oxtrel: %s\n%s", args.why.c_str(), kUsage); return kExitUsage;
      case ParseOutcome::help: std::printf("%s\n%s", kUsage, kHelp); return kExitOk;
      case ParseOutcome::version: std::printf("oxtrel %s\n", OXTREL_VERSION); return kExitOk;
      case ParseOutcome::run: break;
    }
    return run(args);
  } catch (const std::bad_alloc&) {
    // Lines already printed stay; the reason goes where it cannot be taken for an entry's line.
    std::fputs("Error: out of memory\n", stderr);
    return kExitOutOfMemory;
  }
}

}  // namespace

int main(int argc, char** argv) {
  guardStandardDescriptors();
  // Line-at-a-time output only helps a person watching; pipes and files get full buffering.
  if (!platform::isTerminal(platform::StandardStream::output)) std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
  int status = dispatch(argc, argv);
  if (!closeStandardOutput("oxtrel") && status == kExitOk) status = kExitProblem;
  return status;
}
