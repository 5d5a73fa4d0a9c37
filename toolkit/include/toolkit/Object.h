#pragma once
// The root of the runtime's object model. Runtime objects are reference counted through
// std::shared_ptr (tk::Ref); "nil" is an empty Ref.
#include <memory>

namespace tk {

class ClassRecord;

class Object : public std::enable_shared_from_this<Object> {
public:
    Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;
    virtual ~Object() = default;

    // The registered class of this object, or nullptr when its class has no record.
    virtual const ClassRecord* Class() const noexcept { return nullptr; }
};

template <class T>
using Ref = std::shared_ptr<T>;

}  // namespace tk
