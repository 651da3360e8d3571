// One output's compressed siblings: encoded, judged, written or removed, counted.
#include "traverse/siblings.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <string>

#include "optimize/precompress.h"
#include "report/console.h"
#include "report/progress.h"
#include "report/savings.h"
#include "traverse/compressible.h"
#include "traverse/file_io.h"
#include "traverse/sibling_file.h"

namespace {

// An input of that name beside the file is copied or optimized to that name by the run itself.
bool input_has(const FileWork& work, std::string_view suffix) {
  struct stat st {};
  if (!work.input_dir) return ::lstat((work.path + std::string(suffix)).c_str(), &st) == 0;
  const std::string name = work.input_name + std::string(suffix);
  return ::fstatat(work.input_dir->fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

}  // namespace

bool wants_siblings(const FileWork& work, const Options& options) {
  return !options.precompress.empty() && compressible_name(work.output_path);
}

SiblingsDone write_siblings(const FileWork& work, const Options& options, std::FILE* to,
                            std::span<const unsigned char> output, Bytes& encoded) {
  SiblingsDone done;
  if (!work.output_dir) return done;
  const int dir = work.output_dir->fd();
  struct stat written {};
  if (::fstatat(dir, work.output_name.c_str(), &written, AT_SYMLINK_NOFOLLOW) != 0) return done;
  const auto output_size = static_cast<std::int64_t>(output.size());
  const mode_t mode = output_mode(work.st.st_mode);
  bool any = false;
  for (const Encoding e : kEncodings) {
    const std::string name = work.output_name + std::string(encoding_suffix(e));
    if (input_has(work, encoding_suffix(e))) continue;
    bool written_now = false;
    if (options.precompress.has(e) && output_size >= kPrecompressMinSize) {
      ConsoleProgress bar{to};
      const bool encoded_ok = encode(e, output, encoded, options.verbose ? &bar : nullptr);
      if (options.verbose) bar.finish();
      const std::string shown = work.output_path + std::string(encoding_suffix(e));
      if (!encoded_ok) {
        print_memory_error(to);
        done.delta.failures = 1;  // an "Error:" line: the run's status says so
      } else if (sibling_pays(output_size, static_cast<std::int64_t>(encoded.size()))) {
        const IoStatus saved = save_sibling_file(dir, name, encoded, mode, written.st_mtim);
        if (saved.ok()) {
          written_now = true;
          const auto size = static_cast<std::int64_t>(encoded.size());
          done.delta.sibling_bytes[static_cast<unsigned>(e)] += size;
          if (announce(options)) print_sibling_written(to, shown.c_str(), output_size, size);
        } else {
          print_io_status(to, saved, nullptr, shown.c_str());
          done.delta.failures = 1;
          done.lacked_space = saved.disk_full();
        }
      }
    }
    // What an earlier run wrote for an older output would be sent in its place.
    if (!written_now) remove_stale_sibling(dir, name);
    any = any || written_now;
  }
  if (any) {
    ++done.delta.precompressed_files;
    done.delta.precompressed_in += output_size;
  }
  return done;
}
