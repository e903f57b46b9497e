#pragma once

#include <cstddef>
#include <list>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <utility>

namespace platform {

// A map of at most capacity entries that forgets the least recently used one first. Safe for
// use by several threads; values are handed out as copies, so keep them small (digests,
// shared pointers).
template <typename Key, typename Value, typename Hash = std::hash<Key>>
class lru_cache_t {
 public:
  explicit lru_cache_t(std::size_t capacity) : capacity_(capacity) {}

  std::optional<Value> find(const Key& key) {
    const std::lock_guard hold(lock_);
    const auto found = index_.find(key);
    if (found == index_.end()) return std::nullopt;
    entries_.splice(entries_.begin(), entries_, found->second);
    ++found_;
    return found->second->second;
  }

  void insert(const Key& key, Value value) {
    const std::lock_guard hold(lock_);
    if (const auto found = index_.find(key); found != index_.end()) {
      found->second->second = std::move(value);
      entries_.splice(entries_.begin(), entries_, found->second);
      return;
    }
    entries_.emplace_front(key, std::move(value));
    index_.emplace(key, entries_.begin());
    if (entries_.size() > capacity_) {
      index_.erase(entries_.back().first);
      entries_.pop_back();
    }
  }

  std::size_t size() {
    const std::lock_guard hold(lock_);
    return entries_.size();
  }

  // How many lookups were answered so far.
  std::size_t found() {
    const std::lock_guard hold(lock_);
    return found_;
  }

 private:
  using entries_t = std::list<std::pair<Key, Value>>;

  const std::size_t capacity_;
  std::mutex lock_;
  entries_t entries_;  // most recently used first
  std::unordered_map<Key, typename entries_t::iterator, Hash> index_;
  std::size_t found_ = 0;
};

}  // namespace platform
