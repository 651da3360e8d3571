// The table of kinds of file that get compressed siblings.
#include "traverse/compressible.h"

#include "optimize/byte_scan.h"

namespace {

// Lower case, matched in any case at the end of the name. What is left out is left out on
// purpose: PHP pages, and images, fonts, archives and media that carry their own compression.
constexpr std::string_view kCompressible[] = {
    ".html", ".htm",  ".xhtml", ".shtml", ".css",   ".js",       ".mjs",      ".cjs",
    ".json", ".map",  ".jsonld", ".geojson", ".svg", ".xml",     ".rss",      ".atom",
    ".xsl",  ".txt",  ".md",    ".csv",   ".tsv",   ".webmanifest", ".manifest", ".appcache",
    ".ico",  ".wasm", ".ttf",   ".otf",   ".eot",   ".vtt",      ".ics",      ".bmp",
};

bool ends_with_nocase(std::string_view path, std::string_view lower_suffix) {
  if (path.size() < lower_suffix.size()) return false;
  const std::string_view tail = path.substr(path.size() - lower_suffix.size());
  for (std::size_t k = 0; k < tail.size(); ++k)
    if (fold[static_cast<unsigned char>(tail[k])] != static_cast<unsigned char>(lower_suffix[k]))
      return false;
  return true;
}

}  // namespace

bool compressible_name(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  for (const std::string_view suffix : kCompressible)
    if (name.size() > suffix.size() && ends_with_nocase(name, suffix)) return true;
  return false;
}
