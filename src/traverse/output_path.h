// Input prefix, relative names and output paths: how an input path maps under the output directory.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// Where outputs go: the output directory and the run's input prefix (the directory part of the
// first path that qualifies, taken once and fixed for the rest of the run).
struct OutputMapping {
  std::string output_dir;
  std::optional<std::string> input_prefix;
};

// The part of `path` before its last '/'; none when it has no '/' ("" when that '/' is first).
std::optional<std::string> input_prefix_of(std::string_view path);

// The directory that holds `path`, as a path to open: "." for a bare name, "/" for one in the root.
std::string directory_of(std::string_view path);

// The relative name: `path` without as many leading characters as `prefix` has (the
// characters are not compared). Never runs past the end of `path`.
std::string_view skip_prefix(std::string_view path, std::string_view prefix);

// The relative name of `path` under the run's input prefix (the path itself without a prefix).
std::string_view relative_name_of(const OutputMapping& mapping, std::string_view path);

// output_dir followed by the relative name: joined directly when an input prefix is set (the
// relative name brings its own '/'), with a '/' between them otherwise.
std::string output_path_for(const OutputMapping& mapping, std::string_view relative_name);

// True when the output path of a command-line `path` stays inside the output directory: with a
// prefix, the path must begin with the prefix followed by '/' or its end, and the relative name
// must have no ".." component.
bool maps_inside_output_dir(const OutputMapping& mapping, std::string_view path);

// The mapping a command-line `path` is written by: the run's, when the path maps inside the output
// directory under it; else one under the path's own directory part (so that a second tree
// beside the first is mirrored by its own name), when that maps inside; none when neither does.
std::optional<OutputMapping> mapping_for_input(const OutputMapping& run, std::string_view path);
