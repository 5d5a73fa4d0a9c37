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
    // Objects made by RuntimeNewObject carry the record they were made from; the
    // toolkit's own classes set their record in their constructors.
    virtual const ClassRecord* Class() const noexcept { return class_; }

protected:
    void SetClassRecord(const ClassRecord* record) noexcept { class_ = record; }

private:
    friend struct ObjectAccess;  // lets the runtime stamp the record on new objects
    const ClassRecord* class_ = nullptr;
};

template <class T>
using Ref = std::shared_ptr<T>;

}  // namespace tk
