// Mapping input paths to output paths.
#include "traverse/output_path.h"

std::optional<std::string> input_prefix_of(std::string_view path) {
  const auto slash = path.rfind('/');
  if (slash == std::string_view::npos) return std::nullopt;
  return std::string(path.substr(0, slash));
}

std::string directory_of(std::string_view path) {
  const auto slash = path.rfind('/');
  if (slash == std::string_view::npos) return ".";
  return std::string(path.substr(0, slash == 0 ? 1 : slash));
}

std::string_view skip_prefix(std::string_view path, std::string_view prefix) {
  return path.substr(prefix.size() < path.size() ? prefix.size() : path.size());
}

std::string_view relative_name_of(const OutputMapping& mapping, std::string_view path) {
  return mapping.input_prefix ? skip_prefix(path, *mapping.input_prefix) : path;
}

std::string output_path_for(const OutputMapping& mapping, std::string_view relative_name) {
  std::string out;
  out.reserve(mapping.output_dir.size() + 1 + relative_name.size());
  out += mapping.output_dir;
  if (!mapping.input_prefix) out += '/';
  out += relative_name;
  return out;
}

namespace {

bool has_dotdot_component(std::string_view name) {
  std::size_t start = 0;
  while (start <= name.size()) {
    auto end = name.find('/', start);
    if (end == std::string_view::npos) end = name.size();
    if (name.substr(start, end - start) == "..") return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

bool maps_inside_output_dir(const OutputMapping& mapping, std::string_view path) {
  if (mapping.input_prefix) {
    const std::string& prefix = *mapping.input_prefix;
    if (path.substr(0, prefix.size()) != prefix) return false;
    if (path.size() > prefix.size() && path[prefix.size()] != '/') return false;
  }
  return !has_dotdot_component(relative_name_of(mapping, path));
}

std::optional<OutputMapping> mapping_for_input(const OutputMapping& run, std::string_view path) {
  if (maps_inside_output_dir(run, path)) return run;
  OutputMapping own{run.output_dir, input_prefix_of(path)};
  if (maps_inside_output_dir(own, path)) return own;
  return std::nullopt;
}
