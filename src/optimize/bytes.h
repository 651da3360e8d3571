// The byte buffer type and its sizing without zero-filling.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

// Leaves new elements uninitialized on resize: a file-sized buffer is always overwritten whole
// (by a read or by an optimizer) right after it is sized, so zero-filling it first is wasted work.
template <class T>
struct DefaultInitAllocator : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = DefaultInitAllocator<U>;
  };
  DefaultInitAllocator() = default;
  template <class U>
  explicit DefaultInitAllocator(const DefaultInitAllocator<U>&) noexcept {}

  template <class U>
  void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>) {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

// A whole file, or a whole optimized output, in memory.
using Bytes = std::vector<unsigned char, DefaultInitAllocator<unsigned char>>;

// Asks for huge pages under the memory at `data` (`size` bytes), which is about to be written
// whole for the first time: on Linux that spares thousands of page faults on a large buffer.
inline void advise_huge_pages([[maybe_unused]] const void* data, [[maybe_unused]] std::size_t size) {
#if defined(MADV_HUGEPAGE)
  constexpr std::size_t kHugeWorthIt = std::size_t{4} << 20;
  constexpr std::uintptr_t kPage = 4096;
  if (size < kHugeWorthIt) return;
  const auto first = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t start = (first + kPage - 1) & ~(kPage - 1);
  const std::uintptr_t end = (first + size) & ~(kPage - 1);
  if (end > start) ::madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
#endif
}

// Sizes `buffer` to `size` without initializing it, for a buffer about to be written once from
// start to end.
inline void size_for_overwrite(Bytes& buffer, std::size_t size) {
  buffer.resize(size);
  advise_huge_pages(buffer.data(), size);
}

// An optimizer's output buffer, sized once for an output that never outgrows its input; none when
// it cannot be allocated (the caller reports it). It takes over `reuse`'s memory when that is large
// enough: memory a process has used before costs no page faults.
inline std::optional<Bytes> output_buffer(std::size_t size, Bytes reuse = {}) {
  try {
    reuse.clear();  // a buffer that must grow has nothing worth copying
    size_for_overwrite(reuse, size);
    return reuse;
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}
