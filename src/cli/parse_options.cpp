// Option parsing: short options through getopt, long options by unambiguous prefix.
#include "cli/parse_options.h"

#include <getopt.h>
#include <unistd.h>

#include <new>
#include <optional>
#include <string>
#include <utility>

#include "cli/filter.h"
#include "report/console.h"

namespace {

// No format option at all means everything: HTML, JPEG, PHP, CSS, JavaScript and copying. Style
// sheets and scripts are minified by the safe profile only: without --safe they are other files.
void apply_default_formats(Options& options) {
  if (!(options.html || options.jpeg || options.php || options.copy_other || options.css ||
        options.js))
    options.html = options.jpeg = options.php = options.copy_other = options.css = options.js =
        true;
  if (!options.safe) options.css = options.js = false;
}

// Codes of the long options that have no short form: above every byte value.
enum LongOnly : int {
  kSafe = 256,
  kBanner,
  kNoBanner,
  kJobs,
  kType,
  kHelp,
  kPrecompress,
  kCss,
  kJs,
  kUpdate,
  kDelete
};

constexpr struct option kLongOptions[] = {
    {"safe", no_argument, nullptr, kSafe},
    {"banner", no_argument, nullptr, kBanner},
    {"no-banner", no_argument, nullptr, kNoBanner},
    {"jobs", required_argument, nullptr, kJobs},
    {"type", required_argument, nullptr, kType},
    {"help", no_argument, nullptr, kHelp},
    {"version", no_argument, nullptr, 'V'},
    {"precompress", optional_argument, nullptr, kPrecompress},
    {"css", no_argument, nullptr, kCss},
    {"js", no_argument, nullptr, kJs},
    {"update", no_argument, nullptr, kUpdate},
    {"delete", no_argument, nullptr, kDelete},
    {nullptr, 0, nullptr, 0},
};

// A worker count: a positive decimal integer, nothing else.
bool parse_jobs(const char* text, int& jobs) {
  constexpr int kMaxJobs = 1024;
  if (*text == '\0') return false;
  long value = 0;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return false;
    value = value * 10 + (*c - '0');
    if (value > kMaxJobs) return false;
  }
  if (value < 1) return false;
  jobs = static_cast<int>(value);
  return true;
}

}  // namespace

Screen parse_options(int argc, char** argv, Options& options) {
  std::optional<bool> banner;  // the last of --banner and --no-banner
  int option = 0;
  while ((option = ::getopt_long(argc, argv, "acfhjlo:prvDVHL", kLongOptions, nullptr)) != -1) {
    switch (option) {
      case 'a':  // not PHP: -a has always left that switch alone
        options.html = options.jpeg = options.copy_other = true;
        break;
      case 'c':
        options.copy_other = true;
        break;
      case 'f':
        options.final_report = true;
        break;
      case 'h':
        options.html = true;
        break;
      case 'j':
        options.jpeg = true;
        break;
      case 'l':
        options.logging = true;
        break;
      case 'o':
        try {
          std::string dir = optarg;
          if (!dir.empty() && dir.back() == '/') dir.pop_back();  // one '/' only
          options.output_dir = std::move(dir);
          options.output_dir_given = true;
        } catch (const std::bad_alloc&) {  // no room for the name: the option has no effect
        }
        break;
      case 'p':
        options.php = true;
        break;
      case 'r':
        options.recurse = true;
        break;
      case 'v':
        options.verbose = true;
        break;
      case kSafe:
        options.safe = true;
        break;
      case kBanner:
        banner = true;
        break;
      case kNoBanner:
        banner = false;
        break;
      case kCss:
        options.css = true;
        break;
      case kJs:
        options.js = true;
        break;
      case kJobs:
        if (!parse_jobs(optarg, options.jobs)) {
          print_bad_option_value("--jobs", optarg, "a number of workers from 1 to 1024");
          return Screen::ShortUsage;
        }
        break;
      case kType:
        if (!filter_kind(optarg)) {
          print_bad_option_value("--type", optarg, ("one of " + filter_type_names(", ")).c_str());
          return Screen::ShortUsage;
        }
        options.type = optarg;
        break;
      case kHelp:
        return Screen::Help;
      case kPrecompress: {
        // Without a list: the two encodings every server and browser of today takes.
        const std::optional<EncodingSet> set =
            optarg ? parse_encoding_list(optarg)
                   : EncodingSet{1u << static_cast<unsigned>(Encoding::Brotli) |
                                 1u << static_cast<unsigned>(Encoding::Gzip)};
        if (!set) return Screen::ShortUsage;
        options.precompress = *set;
        break;
      }
      case kUpdate:
        options.update = true;
        break;
      case kDelete:
        options.delete_gone = true;
        break;
      case 'D':
        return Screen::Documentation;
      case 'H':
        return Screen::ShortUsage;
      case 'L':
        return Screen::Licence;
      case 'V':
        return Screen::Version;
      default:
        return Screen::ShortUsage;  // getopt has already complained on stderr
    }
  }
  // Only a walk that met the whole tree can tell a source that is gone.
  if (options.delete_gone && !(options.update && options.recurse)) {
    print_delete_needs_update();
    return Screen::ShortUsage;
  }
  // A deploy profile adds no bytes and publishes no path unless asked to.
  options.no_banner = banner ? !*banner : options.safe;
  apply_default_formats(options);
  if (!options.output_dir_given) options.output_dir = "./sveltered";
  return Screen::None;
}
