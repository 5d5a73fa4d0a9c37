#include "toolkit/StringList.h"

#include "toolkit/Exceptions.h"
#include "toolkit/Strings.h"

namespace tk {
namespace {

[[noreturn]] void throwOutOfBounds(std::int64_t index, std::int64_t upperBound) {
    throw OutOfBoundsException("Index " + Str(static_cast<double>(index)) +
                               " is outside the list, whose upper bound is " +
                               Str(static_cast<double>(upperBound)) + ".");
}

}  // namespace

const std::string& StringList::Get(std::int64_t index) const {
    if (index < 0 || index > UBound())
        throwOutOfBounds(index, UBound());
    return items_[static_cast<std::size_t>(index)];
}

void StringList::Set(std::int64_t index, std::string value) {
    if (index < 0 || index > UBound())
        throwOutOfBounds(index, UBound());
    items_[static_cast<std::size_t>(index)] = std::move(value);
}

}  // namespace tk
