#pragma once
// Classes as values: a descriptor object per class, and the process-wide registry that turns a
// class name read back from storage into its descriptor.

#include "nuv/Nuv.Exceptions.h"

#include <string>
#include <string_view>

// Describes one class; families of classes derive their own descriptors with a factory and their
// class-level operations, and find out whether a descriptor is theirs with dynamic_cast.
//
// Thread-safety: immutable after construction.
class TNuvClass {
public:
    explicit TNuvClass(std::u16string name) : FClassName(std::move(name)) {}
    virtual ~TNuvClass() = default;
    TNuvClass(const TNuvClass&) = delete;
    TNuvClass& operator=(const TNuvClass&) = delete;

    // The class's name exactly as declared; this is what storage keeps.
    const std::u16string& ClassName() const { return FClassName; }

private:
    std::u16string FClassName;
};

// A class name that no registered class has: "Class %s not found".
class EClassNotFound : public Exception {
public:
    explicit EClassNotFound(std::u16string_view name);
};

// The process's class-by-name registry. Descriptors are not owned and must outlive their
// registration (they are usually function-local statics).
//
// Thread-safety: every operation may be called from any thread.
class TNuvClasses {
public:
    TNuvClasses() = delete;

    // Enters the class under its name; a later class of the same name takes the place of the
    // earlier one.
    static void Register(const TNuvClass& cls);
    // Removes the class when it is the one registered under its name.
    static void Unregister(const TNuvClass& cls);
    // The class of that name (case matters), or null.
    static const TNuvClass* Get(std::u16string_view name);
    // The class of that name; raises EClassNotFound when there is none.
    static const TNuvClass& Find(std::u16string_view name);
};
