#pragma once
// The record an --update run keeps of what it wrote: per output, the state of its source and of
// the files written, and the options that shaped them. Pure: encoded and decoded as bytes.

#include <sys/stat.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "report/totals.h"
#include "traverse/options.h"

// The name of the record in the output directory.
inline constexpr std::string_view kManifestName = ".sveltery-manifest";
// The most a record may hold: 100,000 files take about 20 MB.
inline constexpr std::int64_t kManifestMaxSize = std::int64_t{1} << 30;

// A file's state as a manifest keeps it: sizes, and times in nanoseconds since the epoch.
struct FileState {
  std::int64_t size = -1;  // -1: no such file
  std::int64_t mtime_ns = 0;
  friend bool operator==(const FileState&, const FileState&) = default;
};

struct ManifestEntry {
  std::string output;  // relative to the output directory, '/'-separated, no "." or ".." part
  std::string source;  // the input's path as given on the command line and walked
  FileState source_state;
  std::uint64_t source_ino = 0;
  std::uint64_t source_dev = 0;
  FileState output_state;
  std::array<FileState, 3> siblings{};  // per encoding in kEncodings' order; size -1: none written
  Totals share;  // what the file added to the totals (files_seen aside)
  // Written under the options the record names. False for an entry kept only so that --delete
  // can still remove what it lists: such an entry is never up to date.
  bool current = true;
};

struct Manifest {
  std::string program;      // the version of the program that wrote it
  std::string fingerprint;  // options_fingerprint() of the run that wrote it
  std::vector<ManifestEntry> entries;
};

// The program version a manifest names.
inline constexpr std::string_view kProgramVersion = "1.1";

// Every option that changes what is written, in a fixed text form: profile, banner, formats
// switched on, compressed siblings.
std::string options_fingerprint(const Options& options);

// The state of a file from its stat result.
FileState file_state(const struct stat& st);

// The state of `name` in the directory `dir` when it is a regular file (never through a link);
// size -1 if not.
FileState regular_state_at(int dir, const char* name);

// The record as text: a header, one line per entry (names escaped so that any byte but NUL
// passes), and a closing line that counts them, so that a cut record is told from a whole one.
std::string encode_manifest(const Manifest& manifest);

// The record from `bytes`; none when anything in it is not what encode_manifest writes (another
// format version, a cut or damaged line, a number out of range, an unsafe output name).
std::optional<Manifest> decode_manifest(std::span<const unsigned char> bytes);

// A record checked whole as decode_manifest checks it, its entries left as the lines they were
// written as: only an index is built per entry, since building every entry of a large record up
// front costs a re-run more than looking at the files does (a page of memory touched for the
// first time costs more than reading a line again). Views into the bytes read, which must
// outlive it.
struct ManifestLines {
  struct Line {
    std::string_view text;    // the entry's line, without its line break
    std::string_view output;  // its output name (escapes undone)
  };
  std::string program;
  std::string fingerprint;
  std::vector<Line> entries;
  std::vector<std::unique_ptr<std::string>> names;  // output names that were written escaped
};
std::optional<ManifestLines> read_manifest_lines(std::span<const unsigned char> bytes);

// The entry of a line read_manifest_lines() accepted, into `entry`, whose names keep their
// memory: a run asks once a file.
void entry_of(const ManifestLines::Line& line, ManifestEntry& entry);
ManifestEntry entry_of(const ManifestLines::Line& line);

// The line encode_manifest writes for `entry`, line break included, appended to `out`.
void encode_manifest_entry(std::string& out, const ManifestEntry& entry);

// The record's first lines and its last, around the entries' lines.
std::string encode_manifest_head(std::string_view program, std::string_view fingerprint);
std::string encode_manifest_end(std::size_t entries);

// What is on disk now for an output and its siblings, as found by the walk.
struct OutputNow {
  FileState output;
  std::array<FileState, 3> siblings{};
};

// Whether an output recorded as `entry` may be left as it is: the entry is current, the source is
// the same file (device and inode), named by the same path (the banner shows it), with the same
// size and modification time, and the output and every sibling the entry lists are there with
// the size and time recorded. Content changed under the same size and time goes unnoticed, as
// it does for any tool that decides by size and time.
bool up_to_date(const ManifestEntry& entry, std::string_view source_path,
                const struct stat& source, const OutputNow& now);

// True for a name an output may have in a manifest: relative, no empty, "." or ".." part.
bool safe_output_name(std::string_view name);
