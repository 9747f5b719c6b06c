#include "nuv/Nuv.Classes.h"

#include "nuv/Nuv.Strings.h"

#include <map>
#include <mutex>
#include <shared_mutex>

namespace {

struct TRegistry {
    std::shared_mutex Lock;
    std::map<std::u16string, const TNuvClass*, std::less<>> Classes;
};

// Created on first use, so that registrations made by other static objects find it; destroyed
// with the module, which must not leave its registry behind when it unloads.
TRegistry& Registry() {
    static TRegistry registry;
    return registry;
}

} // namespace

EClassNotFound::EClassNotFound(std::u16string_view name) : Exception(Format(u"Class %s not found", name)) {}

void TNuvClasses::Register(const TNuvClass& cls) {
    TRegistry& registry = Registry();
    std::unique_lock guard(registry.Lock);
    registry.Classes.insert_or_assign(cls.ClassName(), &cls);
}

void TNuvClasses::Unregister(const TNuvClass& cls) {
    TRegistry& registry = Registry();
    std::unique_lock guard(registry.Lock);
    const auto found = registry.Classes.find(cls.ClassName());
    if (found != registry.Classes.end() && found->second == &cls)
        registry.Classes.erase(found);
}

const TNuvClass* TNuvClasses::Get(std::u16string_view name) {
    TRegistry& registry = Registry();
    std::shared_lock guard(registry.Lock);
    const auto found = registry.Classes.find(name);
    return found == registry.Classes.end() ? nullptr : found->second;
}

const TNuvClass& TNuvClasses::Find(std::u16string_view name) {
    if (const TNuvClass* cls = Get(name))
        return *cls;
    throw EClassNotFound(name);
}
