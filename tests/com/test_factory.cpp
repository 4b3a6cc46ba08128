// The class factory: fresh objects by program identifier, interfaces by
// query, the live-object count that says whether unloading is safe.
#include <gtest/gtest.h>

#include <tessel/comm.h>
#include <tessel/error.h>
#include <tessel/factory.h>
#include <tessel/port.h>
#include <tessel/timeout.h>

#include "support/errors.h"

using namespace tessel;

TEST(Factory, EveryCreationIsAFreshObjectInItsInitialState) {
    auto setup = QueryInterface<IPortSetup>(CreateObject("Tessel.clsComm"));
    ASSERT_TRUE(setup);
    setup->Name("changed");
    setup->Settings()->Item("Baud Rate")->Value(-1, -1, "300");
    auto second = QueryInterface<IPortSetup>(CreateObject("tessel.CLSCOMM"));  // identifiers ignore case
    ASSERT_TRUE(second);
    EXPECT_NE(second.get(), setup.get());
    EXPECT_EQ(second->Name(), "");
    EXPECT_EQ(second->Settings()->Item("Baud Rate")->Value(-1, -1), Variant("9600"));
    EXPECT_NE(second->Settings(), setup->Settings());
}

TEST(Factory, InterfacesShareTheObjectsLifeAndUnsupportedOnesAreNull) {
    const std::size_t before = LiveObjectCount();
    std::shared_ptr<IPort> port;
    {
        auto obj = CreateObject("Tessel.clsComm");
        EXPECT_TRUE(QueryInterface<IPortB>(obj));
        EXPECT_TRUE(QueryInterface<IPortDirect>(obj));
        port = QueryInterface<IPort>(obj);
    }
    // The interface alone keeps the object (and its settings) alive.
    EXPECT_GT(LiveObjectCount(), before);
    EXPECT_FLOAT_EQ(port->TimeOut(), 1.0f);
    EXPECT_FALSE(CanUnloadNow());
    port.reset();
    EXPECT_EQ(LiveObjectCount(), before);

    auto timer = CreateObject("Tessel.clsTimeout");
    EXPECT_TRUE(std::dynamic_pointer_cast<clsTimeout>(timer));
    EXPECT_FALSE(QueryInterface<IPort>(timer));
    EXPECT_FALSE(QueryInterface<IPortSetup>(timer));
    EXPECT_FALSE(QueryInterface<IPort>(std::shared_ptr<Object>()));
}

TEST(Factory, UnknownIdentifierNamesItselfAndTheKnownOnes) {
    const ComError e = test::CaughtError([] { CreateObject("Tessel.clsModem"); });
    EXPECT_EQ(e.Number, kErrCannotCreateObject);
    EXPECT_EQ(e.Source, "Tessel");
    EXPECT_NE(e.Detail.find("Tessel.clsComm"), std::string::npos);
    for (const auto& id : RegisteredClasses()) EXPECT_TRUE(CreateObject(id)) << id;
}
