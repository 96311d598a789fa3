// Class references: a value that names a class and creates objects of it.
//
// C++ has no class values and its constructors do not dispatch virtually, so
// where a base class lets a descendant decide which class a factory creates
// (a list naming the class of its items, a configuration naming the classes
// of its lists), it hands out a class reference instead: one immutable object
// per class, compared by address, whose virtual Create runs the constructor of
// the class it names.
//
//   using TWidgetClass = TClassRef<TWidget, const std::string&>;
//   const TWidgetClass* cls = ClassOf<TFancyWidget>();
//   std::unique_ptr<TWidget> w = cls->Create("name");   // a TFancyWidget
//
// TWidget declares `using TClass = TWidgetClass;` so that ClassOf knows which
// constructor arguments the reference stands for.
#pragma once

#include <memory>
#include <type_traits>
#include <utility>

template <class Base, class... Args>
class TClassRef {
public:
    TClassRef() = default;
    TClassRef(const TClassRef&) = delete;
    TClassRef& operator=(const TClassRef&) = delete;

    // A new object of the named class; the caller owns it.
    virtual std::unique_ptr<Base> Create(Args... args) const = 0;

protected:
    ~TClassRef() = default;
};

namespace classrefs_detail {

template <class T, class Ref>
class TClassRefOf;

template <class T, class Base, class... Args>
class TClassRefOf<T, TClassRef<Base, Args...>> final : public TClassRef<Base, Args...> {
    static_assert(std::is_base_of_v<Base, T>, "a class reference names a descendant of its base");

public:
    std::unique_ptr<Base> Create(Args... args) const override {
        return std::make_unique<T>(std::forward<Args>(args)...);
    }
};

}  // namespace classrefs_detail

// The one class reference of T, typed as the reference of T's base (T::TClass).
template <class T>
const typename T::TClass* ClassOf() {
    static const classrefs_detail::TClassRefOf<T, typename T::TClass> instance;
    return &instance;
}
