#include <gtest/gtest.h>

#include "platform/framework/Classes.h"

namespace {

class TRegisteredThing : public TPersistent {
public:
    const char* ClassName() const override { return "TRegisteredThing"; }
};

class TOtherThing : public TRegisteredThing {};

} // namespace

TEST(ClassRegistry, MakesObjectsOfTheClassRegisteredUnderExactlyTheName) {
    RegisterClass<TRegisteredThing>();
    RegisterClass<TRegisteredThing>();
    const TPersistentClass found = GetClass("TRegisteredThing");
    ASSERT_NE(found, nullptr);
    const std::unique_ptr<TPersistent> made = found();
    const TPersistent& object = *made;
    EXPECT_EQ(typeid(object), typeid(TRegisteredThing));
    EXPECT_EQ(GetClass("tregisteredthing"), nullptr);
    EXPECT_EQ(GetClass("TNeverRegistered"), nullptr);
    try {
        RegisterClass<TOtherThing>();
        ADD_FAILURE() << "a second class took a registered name";
    } catch (const EFilerError& e) {
        EXPECT_EQ(e.Message(), "A class named TRegisteredThing already exists");
    }
    EXPECT_EQ(GetClass("TRegisteredThing"), found);

    // Components are made without an owner.
    RegisterClass<TComponent>();
    const auto component = GetClass("TComponent")();
    EXPECT_EQ(dynamic_cast<TComponent&>(*component).Owner(), nullptr);
}
