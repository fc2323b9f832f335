#include "cmds/flowtally/cmdline.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cmds/flowtally/options.h"
#include "cmds/flowtally/subopts.h"
#include "cmds/flowtally/test_hooks.h"

namespace flowtally {

int optind = 1;
char* optarg = nullptr;
int opterr = 1;

namespace {

// Position inside argv[optind] of the next option letter, or nullptr between arguments.
char* scan_pos = nullptr;

constexpr char kOptionString[] = "vVd:hu:c:j:p:t:ao:";

constexpr char kShortUsage[] = "Usage: flowtally [options...]|-h\n";

constexpr char kLongUsage[] =
    "Usage: flowtally [-j JNWsearch] [-c component] [-p print|-t test]\n"
    "\t\t[-o output] [-u user|-a]\n"
    "\n"
    "JNWsearch:\n"
    "\t  name=JNW,run,last,date=YYYYMMDD[-yyyymmdd],\n"
    "\t  today,prep,trk=JNW.YYYYMMDDhhmmss\n"
    "\n"
    "component:\n"
    "\t  -c \"JNW:subJNW.../Component\"\n"
    "\n"
    "print:\n"
    "\t  format=csv|rd,style=0|1|2,ujonly,erronly,output,notitle\n"
    "\n"
    "test:\n"
    "\t  -t testp=\"expression\"\n"
    "\t  expression=\"{pattern}{operator}\" | \"{pattern}/{expression}{operator}\"\n"
    "\t             | \"pattern\"\n"
    "\t  pattern=\"hold\",\"skip\",\"wait\",\"submit\",\"run\",\"done\",\"error\",\n"
    "\t          \"stopped\",\"complete\",\"archived\"\n"
    "\t  operator=\"+\"(or),\"*\"(and),\"!\"(not)\n";

// Steps past the option letter just read; an argument that is used up releases the scan.
void step_past_letter() {
  if (*scan_pos == '\0') {
    ++optind;
    scan_pos = nullptr;
  }
}

}  // namespace

void reset_options_state() {
  g_options = SummaryOptions{};
  std::memset(g_local_machine, 0, sizeof g_local_machine);
  optind = 1;
  optarg = nullptr;
  opterr = 1;
  scan_pos = nullptr;
}

int getopt(int argc, char* const argv[], const char* optstring) {
  optarg = nullptr;
  if (optind >= argc) {
    scan_pos = nullptr;
    return -1;
  }
  const char* program = argv[0] != nullptr ? argv[0] : "flowtally";
  if (scan_pos == nullptr) {
    char* arg = argv[optind];
    if (arg == nullptr || arg[0] != '-' || arg[1] == '\0') return -1;
    if (std::strcmp(arg, "--") == 0) {
      ++optind;
      return -1;
    }
    scan_pos = arg + 1;
  }

  const char c = *scan_pos++;
  const char* letter = (c == ':' || c == '\0') ? nullptr : std::strchr(optstring, c);
  if (letter == nullptr) {
    if (opterr) std::fprintf(stderr, "%s: %s -- %c\n", program, "ERROR: Illegal option", c);
    step_past_letter();
    return '?';
  }
  if (letter[1] != ':') {
    step_past_letter();
    return static_cast<unsigned char>(c);
  }

  // The letter takes an argument: the rest of this word, else the whole next word.
  if (*scan_pos != '\0') {
    optarg = scan_pos;
    ++optind;
  } else if (optind + 1 < argc) {
    optarg = argv[optind + 1];
    optind += 2;
  } else {
    if (opterr) {
      std::fprintf(stderr, "%s: %s -- %c\n", program, "ERROR: Option requires an argument", c);
    }
    scan_pos = nullptr;
    ++optind;
    return '?';
  }
  scan_pos = nullptr;
  return static_cast<unsigned char>(c);
}

namespace {

// Copies the value of an option into its field of at most max characters; a longer value is
// refused with the message, never cut: a cut expression, component or file name is another one.
bool take_whole(char* field, size_t max, const char* value, const char* message) {
  if (std::strlen(value) > max) {
    std::fprintf(stderr, "%s\n", message);
    return false;
  }
  copy_truncated(field, max, value);
  return true;
}

}  // namespace

void usage(FILE* stream, bool long_text) {
  std::fputs(long_text ? kLongUsage : kShortUsage, stream);
}

int parse_options(int argc, char** argv) {
  bool scan_error = false;
  bool saw_search = false;
  bool saw_print = false;
  bool saw_test = false;

  int c;
  while ((c = getopt(argc, argv, kOptionString)) != -1) {
    switch (c) {
      case 'v':
        g_options.verbose = 1;
        break;
      case 'V':
        g_options.show_eval = 1;
        break;
      case 'd':
        g_options.DebugKey = read_decimal(optarg);
        std::fprintf(stderr, "DebugKey=%d\n", g_options.DebugKey);
        break;
      case 'h':
        usage(stderr, true);
        std::exit(0);
      case 'u':
        // A longer name cannot be an account; cutting it could name a different one.
        if (!take_whole(g_options.user, kUserMax, optarg, "User name too long (-u user)")) {
          return -1;
        }
        break;
      case 'c':
        if (!take_whole(g_options.component, kOptionTextMax, optarg,
                        "Component too long (-c component)")) {
          return -1;
        }
        break;
      case 'j':
        if (parse_search_options(optarg) != 0) return -1;
        saw_search = true;
        break;
      case 'o':
        if (!take_whole(g_options.output_file, kOptionTextMax, optarg,
                        "Output file name too long (-o output)")) {
          return -1;
        }
        break;
      case 'p':
        if (parse_print_options(optarg) != 0) return -1;
        g_options.mode = kModePrint;
        saw_print = true;
        break;
      case 't':
        if (!take_whole(g_options.test_expr, kOptionTextMax, optarg,
                        "Test expression too long (-t test)")) {
          return -1;
        }
        g_options.mode = kModeTest;
        saw_test = true;
        break;
      case 'a':
        g_options.all_users = 1;
        break;
      default:  // '?': the scanner has said what was wrong; keep scanning for more.
        scan_error = true;
        break;
    }
  }

  if (scan_error) {
    std::fputs("Invalid Option.\n", stderr);
    return -1;
  }
  if (saw_test && saw_print) {
    std::fputs("Don't specify the option -t and -p\n", stderr);
    return -1;
  }
  if (saw_print && check_print_options() != 0) return -1;
  if (!saw_search) {
    char last[] = "last";
    parse_search_options(last);
  }
  return 0;
}

}  // namespace flowtally
