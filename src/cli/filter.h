// The filter: standard input optimized as one file of a named kind, onto standard output.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "optimize/bytes.h"
#include "traverse/options.h"
#include "traverse/pipeline.h"

// The kind a --type name stands for; none for a name of no kind the filter knows.
std::optional<FormatKind> filter_kind(std::string_view type);

// The --type names, in table order, joined by `separator` (for messages and the help screen).
std::string filter_type_names(std::string_view separator);

// `in` optimized as a file of `kind` is in a run with `options` (the profile and the banner),
// through the same optimizers; a JPEG the filter cannot follow comes back as it is. None when
// memory runs out.
std::optional<Bytes> filter_bytes(FormatKind kind, Bytes in, const Options& options);

// Reads all of standard input, optimizes it as `kind` and writes the result to standard output.
// Returns the exit status: 0, or 2 after a message on standard error.
int run_filter(FormatKind kind, const Options& options);
