#include "registry.h"

#include "limits.h"

namespace zyl::toolkit {

IdTable& IdTable::instance() {
  static IdTable table;
  return table;
}

std::optional<int> IdTable::add(IdEntry entry) {
  std::lock_guard lock(mutex_);
  int id;
  if (!freed_.empty()) {
    id = *freed_.begin();
    freed_.erase(freed_.begin());
  } else {
    if (static_cast<int>(slots_.size()) > limits::kMaxId) return std::nullopt;
    id = static_cast<int>(slots_.size());
    slots_.emplace_back();
  }
  slots_[id] = std::move(entry);
  return id;
}

std::optional<IdEntry> IdTable::find(int id) const {
  std::lock_guard lock(mutex_);
  if (id <= 0 || id >= static_cast<int>(slots_.size())) return std::nullopt;
  return slots_[id];
}

void IdTable::remove(int id) {
  std::lock_guard lock(mutex_);
  if (id <= 0 || id >= static_cast<int>(slots_.size()) || !slots_[id]) return;
  slots_[id].reset();
  // Keep the table short so that the lowest free id is reused first.
  if (id == static_cast<int>(slots_.size()) - 1) {
    slots_.pop_back();
    while (slots_.size() > 1 && !slots_.back()) {
      freed_.erase(static_cast<int>(slots_.size()) - 1);
      slots_.pop_back();
    }
  } else {
    freed_.insert(id);
  }
}

void IdTable::setRoot(int id, std::shared_ptr<Root> root) {
  std::lock_guard lock(mutex_);
  if (id > 0 && id < static_cast<int>(slots_.size()) && slots_[id]) slots_[id]->root = std::move(root);
}

std::optional<int> IdTable::findApplication(const std::string& title) const {
  std::lock_guard lock(mutex_);
  for (std::size_t i = 1; i < slots_.size(); ++i)
    if (slots_[i] && slots_[i]->kind == IdKind::Application && slots_[i]->applicationTitle == title)
      return static_cast<int>(i);
  return std::nullopt;
}

int IdTable::size() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(slots_.size() - 1 - freed_.size());
}

}  // namespace zyl::toolkit
