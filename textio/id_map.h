// Hash maps from ids (views into text that outlives the map) to values,
// allocating in bulk: the bucket array and every node come from one pool,
// sized for the ids expected and freed at once with the map. A map filled
// id by id otherwise costs one heap allocation per id, and threads that
// fill maps side by side then queue for the heap's lock. Header only: the
// packages compile the library from a fixed list of sources.
#ifndef KORVELAN_TEXTIO_ID_MAP_H_
#define KORVELAN_TEXTIO_ID_MAP_H_

#include <algorithm>
#include <cstddef>
#include <memory>
#include <memory_resource>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace korvelan::textio {

template <typename Value>
class IdMap {
 public:
  using Map = std::pmr::unordered_map<std::string_view, Value>;

  // Room for `expected` ids without a rehash (and, up to a first block of
  // 64 MiB, without a second block from the heap); more ids are taken as
  // they come, the pool growing by blocks, so an estimate far above the
  // ids that come reserves no more than that first block for nodes.
  explicit IdMap(std::size_t expected)
      : pool_(std::make_unique<std::pmr::monotonic_buffer_resource>(PoolBytes(expected))),
        map_(pool_.get()) {
    map_.reserve(expected);
  }
  // Moving keeps the pool: the nodes move with it, untouched.
  IdMap(IdMap&&) noexcept = default;
  // Assigning would free the nodes of one pool into another.
  IdMap& operator=(IdMap&&) = delete;

  Map& operator*() { return map_; }
  const Map& operator*() const { return map_; }
  Map* operator->() { return &map_; }
  const Map* operator->() const { return &map_; }

 private:
  // A node holds a link, the key and value and the key's cached hash; a
  // bucket is a link. Rounded up a little for the allocator's alignment.
  static std::size_t PoolBytes(std::size_t expected) {
    constexpr std::size_t kNode =
        2 * sizeof(void*) + sizeof(std::pair<const std::string_view, Value>);
    constexpr std::size_t kPerId = (kNode + 15) / 16 * 16 + sizeof(void*);
    constexpr std::size_t kFirstBlock = std::size_t{64} << 20;
    return std::min(expected, kFirstBlock / kPerId) * kPerId + 256;
  }

  std::unique_ptr<std::pmr::monotonic_buffer_resource> pool_;  // outlives map_
  Map map_;
};

}  // namespace korvelan::textio

#endif  // KORVELAN_TEXTIO_ID_MAP_H_
