// Decodes arbitrary bytes as an --update record. Checked: nothing is read out of bounds, a record
// that decodes encodes back to exactly the bytes read (so nothing in it was half understood), and
// every output name it lists stays below the output directory.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "invariant.h"
#include "traverse/manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::optional<Manifest> manifest = decode_manifest({data, size});
  if (!manifest) return 0;
  const std::string again = encode_manifest(*manifest);
  check(again.size() == size && again.compare(0, size, reinterpret_cast<const char*>(data), size) == 0,
        "a decoded record encodes back to its bytes");
  for (const ManifestEntry& entry : manifest->entries)
    check(safe_output_name(entry.output), "output names stay below the output directory");
  return 0;
}
