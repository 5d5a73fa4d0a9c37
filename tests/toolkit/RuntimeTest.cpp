// Class records, object creation, casts, delegates, layout property lists and the
// runtime's exit code.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "toolkit/Controls.h"
#include "toolkit/Dialogs.h"
#include "toolkit/PropertyList.h"
#include "toolkit/RegEx.h"
#include "toolkit/Runtime.h"
#include "toolkit/Window.h"

namespace {

using tk::PropertyEntry;
using tk::PropertyType;

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

std::string MessageOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const tk::UnsupportedFormatException& e) {
        return e.what();
    }
    return "(no exception)";
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

TEST(DelegateTest, SignatureTextsMustMatchAndDeadTargetsAreNil) {
    for (const auto& [code, text] : {std::pair{"%%", "(  )"}, {"%b%", "(  ) as Boolean"}, {"%o<MenuItem>%", "(  ) as MenuItem"},
                                     {"%s%f8", "( Double ) as String"}, {"%%so<Delegate>", "( String, Delegate )"}})
        EXPECT_EQ(tk::SignatureTextFromCode(code), text);
    EXPECT_THROW(tk::SignatureTextFromCode("%"), tk::RuntimeException);

    tk::Ref<tk::Object> thing = tk::RuntimeNewObject(ThingRecord());
    auto yes = tk::RuntimeCreateDelegate(thing, "Yes", "(  ) as Boolean");
    EXPECT_TRUE(yes->InvokeBoolean());
    auto poke = tk::RuntimeCreateDelegate(thing, *ThingRecord().FindMethod("Poke"), "(  )");
    poke->Invoke();
    EXPECT_EQ(static_cast<Thing&>(*thing).calls, 1);
    EXPECT_THROW(poke->InvokeBoolean(), tk::RuntimeException);  // no Boolean result

    EXPECT_THROW(tk::RuntimeCreateDelegate(thing, "Yes", "(  )"), tk::RuntimeException);
    EXPECT_THROW(tk::RuntimeCreateDelegate(thing, "Poke", "( )"), tk::RuntimeException);
    EXPECT_THROW(tk::RuntimeCreateDelegate(thing, "Nope", "(  )"), tk::RuntimeException);
    EXPECT_THROW(tk::RuntimeCreateDelegate(nullptr, "Poke", "(  )"), tk::NilObjectException);

    thing.reset();  // the delegate does not keep its object alive
    EXPECT_EQ(poke->Target(), nullptr);
    EXPECT_THROW(poke->Invoke(), tk::NilObjectException);
}

// ---- layout property lists ----------------------------------------------------------------

std::vector<PropertyEntry> ProgressBarEntries() {
    return {{"Name", PropertyType::String, std::string("ProgressBar1")},
            {"Index", PropertyType::Integer, std::int32_t(-2147483647 - 1)},
            {"Left", PropertyType::Integer, std::int32_t(20)},
            {"Visible", PropertyType::Boolean, true},
            {"HelpTag", PropertyType::String, std::string()},
            {"Value", PropertyType::Integer, std::int32_t(0)},
            {"Maximum", PropertyType::Integer, std::int32_t(100)}};
}

bool SameEntries(const std::vector<PropertyEntry>& a, const std::vector<PropertyEntry>& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i].name != b[i].name || a[i].type != b[i].type || a[i].value != b[i].value)
            return false;
    return true;
}

TEST(PropertyListTest, RoundTripsByTheTargetsClass) {
    const auto entries = ProgressBarEntries();
    const std::string bytes = tk::EncodePropertyList(entries);
    EXPECT_TRUE(SameEntries(tk::DecodePropertyList(bytes, tk::ProgressBar::__Lookup()), entries));

    // The same name has another type in another class: a check box's Value is a Boolean.
    const std::vector<PropertyEntry> box = {{"Caption", PropertyType::String, std::string("Paragraph form")},
                                            {"Value", PropertyType::Boolean, false},
                                            {"Underline", PropertyType::Boolean, true}};
    EXPECT_TRUE(SameEntries(tk::DecodePropertyList(tk::EncodePropertyList(box), tk::CheckBox::__Lookup()), box));
    // Reading the progress bar's list by the check box's types misreads it and fails.
    EXPECT_THROW(tk::DecodePropertyList(bytes, tk::CheckBox::__Lookup()), tk::UnsupportedFormatException);

    // Colours, zero bytes and spaces inside values, and "MacProcID" for "MacProcId".
    std::vector<PropertyEntry> window = {{"BackColor", PropertyType::Color, tk::Color{255, 0, 32}},
                                         {"Title", PropertyType::String, std::string("a b\0c", 5)},
                                         {"MacProcID", PropertyType::Integer, std::int32_t(0)}};
    EXPECT_TRUE(SameEntries(tk::DecodePropertyList(tk::EncodePropertyList(window), tk::Window::__Lookup()), window));
    EXPECT_TRUE(tk::DecodePropertyList("", tk::Window::__Lookup()).empty());
}

TEST(PropertyListTest, ErrorsNameThePropertyAndTheOffset) {
    const std::string bytes = tk::EncodePropertyList(ProgressBarEntries());
    const auto& cls = tk::ProgressBar::__Lookup();
    // A string whose count runs past the end, and one of nearly 4 GiB.
    std::string longText = tk::EncodePropertyList({{"Name", PropertyType::String, std::string("abc")}});
    longText[8] = 9;
    const std::string end = "byte offset " + std::to_string(bytes.size());
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        // "Name " (5) + count (4) + 12 = 21; "Index " 21..27, value 27..31; "Left " 31..36, value 36.
        {bytes.substr(0, 38), {"\"Left\"", "byte offset 36"}},
        {longText, {"\"Name\"", "byte offset 9"}},
        {bytes + "Colour \x01\x02\x03", {"unknown property \"Colour\"", end}},
        {bytes + "xy", {"trailing", "\"Maximum\"", end}},
        {"Visible", {"space", "byte offset 0"}},
        {std::string("Visible \x02", 9), {"\"Visible\" at byte offset 8"}},
    };
    for (const auto& [list, parts] : cases) {
        const std::string m = MessageOf([&] { tk::DecodePropertyList(list, cls); });
        for (const std::string& part : parts)
            EXPECT_NE(m.find(part), std::string::npos) << m;
    }
    longText[5] = '\xFF';
    EXPECT_THROW(tk::DecodePropertyList(longText, cls), tk::UnsupportedFormatException);
    EXPECT_THROW(tk::DecodePropertyList(" Visible \x01", cls), tk::UnsupportedFormatException);
    EXPECT_THROW(tk::DecodePropertyList("Vis-ible \x01", cls), tk::UnsupportedFormatException);
    // A declared property without a layout type cannot come from a list.
    EXPECT_THROW(tk::DecodePropertyList("Backdrop \x01", tk::Canvas::__Lookup()), tk::UnsupportedFormatException);

    // Every prefix of a good list that cuts an entry fails cleanly (and never reads past
    // its end); a prefix that ends between entries is a shorter good list.
    std::set<std::size_t> boundaries;
    std::size_t boundary = 0;
    for (const PropertyEntry& e : ProgressBarEntries())
        boundaries.insert(boundary += tk::EncodePropertyList({e}).size());
    for (std::size_t n = 1; n < bytes.size(); ++n) {
        if (boundaries.count(n))
            EXPECT_NO_THROW(tk::DecodePropertyList(bytes.substr(0, n), cls)) << n;
        else
            EXPECT_THROW(tk::DecodePropertyList(bytes.substr(0, n), cls), tk::UnsupportedFormatException) << n;
    }
}

TEST(RuntimeExitTest, ExitCodeTellsWhetherAnExceptionWasReported) {
    auto chooser = std::make_shared<tk::ScriptedChooser>();
    chooser->SetAutoDismissMessages(true);
    tk::ScopedDialogChooser scoped(chooser);

    EXPECT_EQ(tk::RuntimeExit(), 0);
    EXPECT_EQ(tk::RuntimeUnhandledExceptionCount(), 0u);
    tk::RuntimeUnhandledException(tk::NilObjectException("The window is nil."));
    ASSERT_EQ(chooser->Shown().size(), 1u);
    EXPECT_NE(chooser->Shown()[0].message.find("NilObjectException"), std::string::npos);
    EXPECT_NE(chooser->Shown()[0].message.find("The window is nil."), std::string::npos);
    EXPECT_EQ(tk::RuntimeExit(), 1);
    EXPECT_EQ(tk::RuntimeExit(), 0);  // the runtime starts afresh

    // A report whose message box fails still returns.
    auto failing = std::make_shared<tk::ScriptedChooser>();  // no answers: raises
    tk::ScopedDialogChooser scoped2(failing);
    tk::RuntimeUnhandledException(std::make_exception_ptr(std::runtime_error("plain")));
    EXPECT_EQ(tk::RuntimeExit(), 1);
}

}  // namespace
