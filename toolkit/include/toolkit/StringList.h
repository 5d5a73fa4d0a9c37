#pragma once
// A growable one-dimensional list of strings, as the runtime's arrays behave: it starts
// empty with upper bound -1, and an index outside 0..UBound() raises
// OutOfBoundsException rather than touching memory it does not own.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace tk {

class StringList {
public:
    StringList() = default;
    StringList(std::initializer_list<std::string> items) : items_(items) {}
    explicit StringList(std::vector<std::string> items) : items_(std::move(items)) {}

    // Highest valid index; -1 when empty.
    std::int64_t UBound() const noexcept { return static_cast<std::int64_t>(items_.size()) - 1; }
    std::int64_t Count() const noexcept { return static_cast<std::int64_t>(items_.size()); }

    const std::string& Get(std::int64_t index) const;
    void Set(std::int64_t index, std::string value);
    void Append(std::string value) { items_.push_back(std::move(value)); }
    // Room for `count` entries in all, so that appending that many moves nothing; the
    // list's contents do not change.
    void Reserve(std::int64_t count) {
        if (count > 0) items_.reserve(static_cast<std::size_t>(count));
    }
    // Empties the list (upper bound back to -1) and gives back its memory: a list that
    // held a large file's captions would otherwise keep their room until it is filled
    // again.
    void RemoveAll() noexcept { std::vector<std::string>().swap(items_); }

    const std::vector<std::string>& Items() const noexcept { return items_; }
    bool operator==(const StringList&) const = default;

private:
    std::vector<std::string> items_;
};

}  // namespace tk
