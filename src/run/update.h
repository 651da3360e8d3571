#pragma once
// An --update run: the record of the last run, read at the start; the files found up to date,
// which are never handed to a worker; the outputs written, recorded as workers finish them; the
// outputs whose sources are gone, removed with --delete; the new record, written at the end.

#include <sys/stat.h>

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "report/totals.h"
#include "traverse/dir_fd.h"
#include "traverse/manifest.h"
#include "traverse/options.h"
#include "traverse/pipeline.h"

class UpdateRun final : public OutputRecorder {
 public:
  explicit UpdateRun(const Options& options);

  // Reads the record in the output directory `root`. A record that cannot be read or trusted is
  // ignored with one line on standard error: every file is then done again.
  void load(const DirFd& root);

  // On the walking thread, before `work` is handed in: when its output (in its directory, held
  // open) and the output's siblings are as the record left them and its source has not changed,
  // the file's share of the totals, which stands for running it again. `output`: the output's
  // state when it was looked up already.
  std::optional<Totals> up_to_date_share(const FileWork& work,
                                         const std::optional<FileState>& output = std::nullopt);

  // The record was written under this run's options and version: files may be up to date.
  bool trusted() const { return trusted_; }

  // On the thread that ran the file: records the output just written.
  void written(const FileWork& work, const Totals& share) override;

  // A command-line path this run walks: only sources below one are ever taken for gone.
  void walked(std::string_view path);

  // After the walk: removes each output the record lists, not met by this run, whose source lay
  // below a path this run walked and is gone, with its siblings, then the mirror directories that leaves empty where the source
  // directory is gone too. Only regular files whose size and time are as recorded are removed,
  // and every name is reached from `root` without following a link. Lines go to standard output
  // under `announce`; returns the run's failures ("Error:" lines).
  std::int64_t delete_gone(const DirRef& root, const std::string& output_dir, bool announce);

  // Writes the new record into `root` unless it is what was read; false after the line on
  // standard error.
  bool save(const DirFd& root, const std::string& output_dir);

 private:
  bool below_walked(std::string_view source) const;

  // The record's entries by output name: open addressing over entry numbers, since a table node
  // per entry costs a large record's re-run more than looking at its files does.
  class Index {
   public:
    // Indexes `lines`; where an output is listed twice the later line counts, and the earlier
    // ones are returned.
    std::vector<std::size_t> build(const std::vector<ManifestLines::Line>& lines);
    std::optional<std::size_t> find(std::string_view output) const;

   private:
    // Per slot, the name's hash (high half) and entry number + 1 (low half; 0: free): most
    // probes then never touch the record's text.
    std::vector<std::uint64_t> slots_;
    const std::vector<ManifestLines::Line>* lines_ = nullptr;
  };

  // What became of an entry of the record in this run.
  enum Mark : std::uint8_t {
    kMet = 1,       // the walk met its output's name
    kKept = 2,      // found up to date: listed again as it is
    kRemoved = 4,   // --delete took it (or it was gone already)
    kReplaced = 8,  // listed again further on in the record, which counts
  };
  const Options& options_;
  const std::string fingerprint_;
  bool trusted_ = false;  // the record was written under this run's options and version
  Bytes read_;            // the record as read
  ManifestLines record_;  // its lines, viewed in read_
  std::vector<std::uint8_t> marks_;  // per entry of record_
  Index index_;
  ManifestEntry looked_;  // the walking thread's: the entry up_to_date_share() reads
  std::vector<std::string> roots_;  // the paths walked, without trailing '/'
  std::size_t kept_ = 0;  // entries found up to date
  std::mutex written_mutex_;
  std::vector<ManifestEntry> written_;  // workers: written in this run
};
