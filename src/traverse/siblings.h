#pragma once
// The compressed siblings of one output: which are written, which are removed, what they count.

#include <cstdio>
#include <span>

#include "optimize/bytes.h"
#include "report/totals.h"
#include "traverse/options.h"
#include "traverse/pipeline.h"

// Whether the output of `work` gets siblings in this run: --precompress was given and the output's
// name is of a compressible kind.
bool wants_siblings(const FileWork& work, const Options& options);

// What writing siblings leaves behind for the file's totals and the scheduler.
struct SiblingsDone {
  Totals delta;               // precompressed_* and sibling_bytes
  bool lacked_space = false;  // a sibling found the disk or the quota full
};

// For the output of `work`, just saved with the bytes `output`: writes `NAME.br`, `NAME.gz`,
// `NAME.zst` beside it for each encoding asked where the sibling pays (sibling_pays), with the
// output's mode and modification time, and removes those an earlier run left that this run does
// not write. A name that an input file of the same directory has is left alone: that file's own
// output goes there. `encoded`: the buffer the encoders reuse. Lines go to `to`.
SiblingsDone write_siblings(const FileWork& work, const Options& options, std::FILE* to,
                            std::span<const unsigned char> output, Bytes& encoded);
