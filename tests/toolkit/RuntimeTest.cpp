// Class records, object creation and casts, and the runtime's exit code. Delegates and
// layout property lists are used by every window the application tests build, and the
// property-list fuzz target holds the decoder to its lists.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "toolkit/Controls.h"
#include "toolkit/Dialogs.h"
#include "toolkit/Runtime.h"

namespace {

class Thing : public tk::Object {
public:
    int calls = 0;
    void Poke() { ++calls; }
    bool Yes() { return true; }
};

std::vector<std::string>& Journal() {
    static std::vector<std::string> journal;
    return journal;
}

const tk::ClassRecord& ThingRecord() {
    static tk::ClassRecord* rec = &tk::RuntimeRegisterClass("RuntimeTest.Thing", nullptr, [](tk::ClassRecord& r) {
        r.SetFactory([] { return std::make_unique<Thing>(); });
        r.SetInit([](tk::Object&) { Journal().push_back("init Thing"); });
        r.SetExit([](tk::Object&) { Journal().push_back("exit Thing"); });
        r.AddMethod("Poke", "%%", tk::Invoke<Thing>(&Thing::Poke));
        r.AddMethod("Yes", "%b%", tk::Invoke<Thing>(&Thing::Yes));
        r.DeclareProperty("Size", "i4");
    });
    return *rec;
}

const tk::ClassRecord& SubThingRecord() {
    static tk::ClassRecord* rec =
        &tk::RuntimeRegisterClass("RuntimeTest.SubThing", &ThingRecord(), [](tk::ClassRecord& r) {
            r.SetInit([](tk::Object&) { Journal().push_back("init SubThing"); });
            r.SetExit([](tk::Object&) { Journal().push_back("exit SubThing"); });
            r.AddMethod("Poke", "%%", [](tk::Object& self, tk::Object*) -> std::any {
                static_cast<Thing&>(self).calls += 10;
                return {};
            });
            r.AddMethod("Extra", "%s%s");
            r.DeclareProperty("MacProcId", "i4");
            r.DeclareProperty("Items", "A1s");
        });
    return *rec;
}

TEST(ClassRegistryTest, RegistrationTablesAndObjects) {
    const tk::ClassRecord& sub = SubThingRecord();
    // A second registration of a name changes nothing and runs no fill.
    bool filled = false;
    tk::ClassRecord& again = tk::RuntimeRegisterClass("RuntimeTest.SubThing", nullptr, [&](tk::ClassRecord&) { filled = true; });
    EXPECT_EQ(&again, &sub);
    EXPECT_FALSE(filled);
    EXPECT_EQ(again.Parent(), &ThingRecord());
    EXPECT_EQ(tk::RuntimeFindClass("RuntimeTest.SubThing"), &sub);

    auto all = tk::RuntimeRegisteredClasses();
    auto pos = [&](const tk::ClassRecord* r) { return std::find(all.begin(), all.end(), r) - all.begin(); };
    EXPECT_LT(pos(&ThingRecord()), pos(&sub));

    // The table: the parent's rows first, an override in its parent's place, then own rows.
    std::vector<std::string> methods;
    for (const auto& method : sub.Methods())
        methods.push_back(method.name);
    EXPECT_EQ(methods, (std::vector<std::string>{"Poke", "Yes", "Extra"}));
    EXPECT_EQ(ThingRecord().Methods().size(), 2u);

    // Properties through the parents, letter case ignored.
    ASSERT_TRUE(sub.FindProperty("MacProcID") && sub.FindProperty("size"));
    EXPECT_EQ(sub.FindProperty("MacProcID")->name, "MacProcId");
    EXPECT_EQ(sub.FindProperty("size")->typeCode, "i4");
    EXPECT_EQ(ThingRecord().FindProperty("MacProcId"), nullptr);
    EXPECT_TRUE(sub.IsA(ThingRecord()));
    EXPECT_FALSE(ThingRecord().IsA(sub));

    // Creation: the parent's factory, inits ancestors first, exits the class's own first.
    Journal().clear();
    {
        tk::Ref<tk::Object> o = tk::RuntimeNewObject(sub);
        EXPECT_EQ(o->Class(), &sub);
        EXPECT_EQ((std::vector<std::string>{"init Thing", "init SubThing"}), Journal());
        tk::RuntimeInvokeMethod(*o, "Poke");
        EXPECT_EQ(static_cast<Thing&>(*o).calls, 10);
        EXPECT_THROW(tk::RuntimeInvokeMethod(*o, "Extra"), tk::RuntimeException);
        EXPECT_THROW(tk::RuntimeInvokeMethod(*o, "Missing"), tk::RuntimeException);
    }
    EXPECT_EQ((std::vector<std::string>{"init Thing", "init SubThing", "exit SubThing", "exit Thing"}), Journal());

    // Casts: nil stays nil, a wrong class raises, C++ objects of toolkit classes pass.
    tk::Ref<tk::Object> thing = tk::RuntimeNewObject(ThingRecord());
    EXPECT_EQ(tk::RuntimeCheckCast(tk::Ref<tk::Object>(), sub), nullptr);
    EXPECT_EQ(tk::RuntimeCheckCast(thing, ThingRecord()), thing);
    EXPECT_THROW(tk::RuntimeCheckCast(thing, sub), tk::IllegalCastException);
    tk::Ref<tk::Object> box = std::make_shared<tk::CheckBox>();
    EXPECT_NE(tk::RuntimeCheckCast<tk::RectControl>(box, tk::RectControl::__Lookup()), nullptr);
    EXPECT_THROW(tk::RuntimeCheckCast(box, tk::ProgressBar::__Lookup()), tk::IllegalCastException);
    EXPECT_THROW(tk::RuntimeNewObject(tk::RectControl::__Lookup()), tk::RuntimeException);
    EXPECT_THROW(tk::RuntimeNotNil(tk::Ref<tk::Object>(), "The window"), tk::NilObjectException);
}

// The exit code after a report, and the report's text, are the application's tests'. A
// report whose message box fails must still return.
TEST(RuntimeExitTest, AReportWhoseMessageBoxFailsStillReturns) {
    auto failing = std::make_shared<tk::ScriptedChooser>();  // no answers: raises
    tk::ScopedDialogChooser scoped(failing);
    tk::RuntimeUnhandledException(std::make_exception_ptr(std::runtime_error("plain")));
    EXPECT_EQ(failing->UnexpectedCount(), 1u);
    EXPECT_EQ(tk::RuntimeExit(), 1);
}

}  // namespace
