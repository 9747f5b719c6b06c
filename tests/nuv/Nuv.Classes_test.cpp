#include "nuv/Nuv.Classes.h"

#include <gtest/gtest.h>

TEST(ClassRegistry, FindsRegisteredClassesByExactName) {
    const TNuvClass first(u"TRegistryTestClass"), second(u"TRegistryTestClass");
    EXPECT_EQ(TNuvClasses::Get(u"TRegistryTestClass"), nullptr);
    TNuvClasses::Register(first);
    EXPECT_EQ(&TNuvClasses::Find(u"TRegistryTestClass"), &first);
    EXPECT_EQ(TNuvClasses::Get(u"tregistrytestclass"), nullptr);
    // A later class of the same name takes the place; unregistering the earlier one keeps it.
    TNuvClasses::Register(second);
    TNuvClasses::Unregister(first);
    EXPECT_EQ(TNuvClasses::Get(u"TRegistryTestClass"), &second);
    TNuvClasses::Unregister(second);
    try {
        TNuvClasses::Find(u"TRegistryTestClass");
        FAIL() << "no error";
    } catch (const EClassNotFound& e) {
        EXPECT_EQ(e.Message(), u"Class TRegistryTestClass not found");
    }
}
