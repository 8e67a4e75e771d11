#include <gtest/gtest.h>

#include "platform/framework/Classes.h"

namespace {

class TRegisteredThing : public TPersistent {
public:
    const char* ClassName() const override { return "TRegisteredThing"; }
};

class TOtherThing : public TPersistent {
public:
    const char* ClassName() const override { return "TRegisteredThing"; }
};

} // namespace

TEST(ClassRegistry, FindsRegisteredClassesByTheirExactName) {
    EXPECT_EQ(GetClass("TNeverRegistered"), nullptr);
    RegisterClass<TRegisteredThing>();
    RegisterClass<TRegisteredThing>();
    const TPersistentClass found = GetClass("TRegisteredThing");
    ASSERT_NE(found, nullptr);
    EXPECT_NE(dynamic_cast<TRegisteredThing*>(found().get()), nullptr);
    EXPECT_EQ(GetClass("tregisteredthing"), nullptr);

    try {
        RegisterClass<TOtherThing>();
        ADD_FAILURE() << "a second class took a registered name";
    } catch (const EFilerError& e) {
        EXPECT_EQ(e.Message(), "A class named TRegisteredThing already exists");
    }
    EXPECT_EQ(GetClass("TRegisteredThing"), found);
}

TEST(ClassRegistry, ComponentsAreMadeWithoutAnOwner) {
    RegisterClass<TComponent>();
    const std::unique_ptr<TPersistent> made = GetClass("TComponent")();
    const auto* component = dynamic_cast<TComponent*>(made.get());
    ASSERT_NE(component, nullptr);
    EXPECT_EQ(component->Owner(), nullptr);
}
