// The main window: its class, its controls as they start, the output option rules and
// help buttons driven by real clicks, and the project picture.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "AppTestSupport.h"
#include "app/MenuBar1.h"
#include "app/ProjectPicture.h"
#include "app/Window1.h"
#include "toolkit/Dialogs.h"
#include "toolkit/Exceptions.h"
#include "toolkit/Picture.h"

namespace {

using namespace quillet::testing;
using quillet::Window1;

class MainWindow : public ScriptedDialogs {
protected:
    void SetUp() override {
        ASSERT_TRUE(tk::RuntimeInit());
        ScriptedDialogs::SetUp();
    }
    tk::Ref<Window1> shownWindow() {
        tk::Ref<Window1> w = quillet::implicit::Window1();
        w->Show();
        flushEvents();
        return w;
    }
};

struct Boxes {
    bool timecode, line, paragraph;
    bool operator==(const Boxes&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Boxes& b) {
    return os << "{timecode " << b.timecode << ", line " << b.line << ", paragraph " << b.paragraph << "}";
}
Boxes boxes(const tk::Ref<Window1>& w) {
    return {controlOf<tk::CheckBox>(w, "TimecodeBox")->Value(), controlOf<tk::CheckBox>(w, "LineBox")->Value(),
            controlOf<tk::CheckBox>(w, "ParagraphBox")->Value()};
}
constexpr Boxes kTimecodeLayout{true, true, false};
constexpr Boxes kLineLayout{false, true, false};
constexpr Boxes kParagraphLayout{false, false, true};

TEST_F(MainWindow, NewWindowAsItStarts) {
    tk::Ref<Window1> w = quillet::implicit::Window1();
    EXPECT_EQ(quillet::implicit::Window1(), w);  // no second window while one lives
    EXPECT_FALSE(w->IsShown());
    EXPECT_EQ(w->Title(), "Quillet");
    EXPECT_EQ(std::make_tuple(w->Width(), w->Height(), w->Resizeable()), std::make_tuple(486, 252, false));
    EXPECT_EQ(std::make_tuple(w->HasMaximizeButton(), w->HasMinimizeButton(), w->HasCloseButton()),
              std::make_tuple(false, true, true));
    EXPECT_EQ(w->MenuBar(), quillet::implicit::MenuBar1());
    // The same as the user sees it: the title, a client area fixed at its size, the buttons.
    EXPECT_EQ(w->Widget()->windowTitle(), "Quillet");
    EXPECT_EQ(w->ClientArea()->size(), QSize(486, 252));
    EXPECT_EQ(w->ClientArea()->minimumSize(), w->ClientArea()->maximumSize());
    const Qt::WindowFlags flags = w->Widget()->windowFlags();
    EXPECT_EQ(std::make_tuple(bool(flags & Qt::WindowMaximizeButtonHint), bool(flags & Qt::WindowMinimizeButtonHint),
                              bool(flags & Qt::WindowCloseButtonHint)),
              std::make_tuple(false, true, true));

    // Every control by its name, of its class, where the layout puts it.
    const std::vector<std::tuple<const char*, const tk::ClassRecord*, int, int, int, int>> expected = {
        {"BevelButton1", &tk::BevelButton::__Lookup(), 329, 210, 127, 22},
        {"TimecodeBox", &tk::CheckBox::__Lookup(), 185, 77, 146, 20},
        {"LineBox", &tk::CheckBox::__Lookup(), 185, 45, 132, 20},
        {"ParagraphBox", &tk::CheckBox::__Lookup(), 340, 45, 127, 20},
        {"StaticText1", &tk::StaticText::__Lookup(), 184, 12, 273, 20},
        {"ProgressBar1", &tk::ProgressBar::__Lookup(), 20, 178, 436, 20},
        {"ProgressText", &tk::StaticText::__Lookup(), 170, 177, 136, 20},
        {"RadioButton1", &tk::RadioButton::__Lookup(), 185, 114, 161, 20},
        {"RadioButton2", &tk::RadioButton::__Lookup(), 185, 146, 153, 20},
        {"BevelButton3", &tk::BevelButton::__Lookup(), 350, 146, 18, 16},
        {"BevelButton2", &tk::BevelButton::__Lookup(), 350, 114, 17, 16},
        {"Canvas1", &tk::Canvas::__Lookup(), 20, 22, 129, 130},
    };
    ASSERT_EQ(w->Controls().size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const auto& [name, cls, left, top, width, height] = expected[i];
        SCOPED_TRACE(name);
        tk::Ref<tk::RectControl> c = tk::RuntimeWindowControlByName(w, name);
        ASSERT_TRUE(c);
        EXPECT_EQ(w->Controls()[i], c);  // creation order
        EXPECT_TRUE(tk::RuntimeIsA(c.get(), *cls));
        EXPECT_EQ(std::make_tuple(c->Left(), c->Top(), c->Width(), c->Height()),
                  std::make_tuple(left, top, width, height));
        // The status label lies on the bar, so its widget is placed within the bar's.
        const bool onBar = std::string(name) == "ProgressText";
        EXPECT_EQ(c->Widget()->geometry(), onBar ? QRect(left - 20, top - 178, width, height) : QRect(left, top, width, height));
        EXPECT_EQ(c->Widget()->parentWidget(), onBar ? w->ControlByName("ProgressBar1")->Widget() : w->ClientArea());
        EXPECT_LE(c->Left() + c->Width(), 486);
        EXPECT_LE(c->Top() + c->Height(), 252);
    }

    EXPECT_EQ(boxes(w), kTimecodeLayout);
    EXPECT_TRUE(controlOf<tk::RadioButton>(w, "RadioButton1")->Value());
    EXPECT_FALSE(controlOf<tk::RadioButton>(w, "RadioButton2")->Value());
    EXPECT_EQ(controlOf<tk::ProgressBar>(w, "ProgressBar1")->Value(), 0);
    EXPECT_EQ(controlOf<tk::ProgressBar>(w, "ProgressBar1")->Maximum(), 100);
    EXPECT_FALSE(controlOf<tk::StaticText>(w, "ProgressText")->Visible());
    EXPECT_EQ(controlOf<tk::StaticText>(w, "ProgressText")->ContainingControl(),
              tk::RuntimeWindowControlByName(w, "ProgressBar1"));
    EXPECT_EQ(controlOf<tk::BevelButton>(w, "BevelButton1")->Caption(), "Select SCC File");
    EXPECT_EQ(controlOf<tk::StaticText>(w, "StaticText1")->Text(), "Output text file settings:");
    EXPECT_TRUE(static_cast<QLabel*>(w->ControlByName("ProgressText")->Widget())->alignment() & Qt::AlignHCenter);
    EXPECT_EQ(w->ControlByName("LineBox")->Widget()->font(), QApplication::font(w->ControlByName("LineBox")->Widget()));
    for (const char* help : {"BevelButton2", "BevelButton3"})
        EXPECT_EQ(w->ControlByName(help)->Widget()->focusPolicy(), Qt::NoFocus) << help;

    // Six controls answer Action, the others none.
    for (const char* name : {"BevelButton1", "TimecodeBox", "LineBox", "ParagraphBox", "BevelButton3", "BevelButton2"})
        EXPECT_TRUE(tk::RuntimeWindowControlByName(w, name)->EventHandler("Action")) << name;
    for (const char* name : {"StaticText1", "ProgressBar1", "ProgressText", "RadioButton1", "RadioButton2", "Canvas1"})
        EXPECT_FALSE(tk::RuntimeWindowControlByName(w, name)->EventHandler("Action")) << name;
}

TEST_F(MainWindow, OptionRulesThroughClicks) {
    struct Case {
        const char* what;
        std::vector<const char*> clicks;
        Boxes result;
    };
    const std::vector<Case> cases = {
        {"uncheck Include Timecode", {"TimecodeBox"}, kLineLayout},
        {"uncheck Line by line", {"LineBox"}, kParagraphLayout},
        {"check Paragraph", {"ParagraphBox"}, kParagraphLayout},
        {"line layout, check Include Timecode", {"TimecodeBox", "TimecodeBox"}, kTimecodeLayout},
        {"line layout, uncheck Line by line", {"TimecodeBox", "LineBox"}, kParagraphLayout},
        {"line layout, check Paragraph", {"TimecodeBox", "ParagraphBox"}, kParagraphLayout},
        {"paragraph layout, check Include Timecode", {"ParagraphBox", "TimecodeBox"}, kTimecodeLayout},
        {"paragraph layout, check Line by line", {"ParagraphBox", "LineBox"}, kTimecodeLayout},
        {"paragraph layout, uncheck Paragraph", {"ParagraphBox", "ParagraphBox"}, kLineLayout},
        {"the long way round", {"LineBox", "ParagraphBox", "TimecodeBox", "TimecodeBox", "ParagraphBox", "LineBox"},
         kTimecodeLayout},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        tk::Ref<Window1> w = shownWindow();
        ASSERT_EQ(boxes(w), kTimecodeLayout);
        for (const char* name : c.clicks) {
            click(tk::RuntimeWindowControlByName(w, name));
            const Boxes now = boxes(w);
            EXPECT_TRUE(now == kTimecodeLayout || now == kLineLayout || now == kParagraphLayout) << now;
        }
        EXPECT_EQ(boxes(w), c.result);
        closeMainWindow();
    }

    // Unchecking Include Timecode touches no other box, and the radio buttons are a
    // choice of their own that runs none of the rules.
    tk::Ref<Window1> w = shownWindow();
    click(tk::RuntimeWindowControlByName(w, "TimecodeBox"));
    click(tk::RuntimeWindowControlByName(w, "RadioButton2"));
    EXPECT_EQ(boxes(w), kLineLayout);
    EXPECT_TRUE(controlOf<tk::RadioButton>(w, "RadioButton2")->Value());
    EXPECT_FALSE(controlOf<tk::RadioButton>(w, "RadioButton1")->Value());
    click(tk::RuntimeWindowControlByName(w, "RadioButton1"));
    EXPECT_EQ(boxes(w), kLineLayout);
    EXPECT_TRUE(chooser_->Shown().empty());

    // A value set from code runs no rule; only a click does.
    controlOf<tk::CheckBox>(w, "ParagraphBox")->SetValue(true);
    EXPECT_EQ(boxes(w), (Boxes{false, true, true}));
}

TEST_F(MainWindow, HelpButtonsShowTheirTextsAndChangeNothing) {
    tk::Ref<Window1> w = shownWindow();
    const std::size_t reports = tk::RuntimeUnhandledExceptionCount();
    click(tk::RuntimeWindowControlByName(w, "ParagraphBox"));
    chooser_->AnswerDismiss().AnswerDismiss();
    click(tk::RuntimeWindowControlByName(w, "BevelButton2"));
    click(tk::RuntimeWindowControlByName(w, "BevelButton3"));
    ASSERT_EQ(chooser_->Shown().size(), 2u);
    EXPECT_EQ(chooser_->Shown()[0].kind, tk::DialogKind::Message);
    EXPECT_EQ(chooser_->Shown()[0].message,
              "This option gives you the more accurate start time since the SCC format builds in a buffer "
              "time of about 1 frame per 4-digit code prior to the caption's actual start time. The timecode "
              "will be displayed in hundredths of a second.");
    EXPECT_EQ(chooser_->Shown()[1].message,
              "This option will leave the SCC timecode the way it is in frames. You may want to use this if you "
              "are attempting to troubleshoot an SCC file that has errors, for example.");
    EXPECT_EQ(boxes(w), kParagraphLayout);
    EXPECT_TRUE(controlOf<tk::RadioButton>(w, "RadioButton1")->Value());

    // "Select SCC File" asks for a file; cancelling the dialog changes nothing.
    chooser_->AnswerCancel();
    click(tk::RuntimeWindowControlByName(w, "BevelButton1"));
    ASSERT_EQ(chooser_->Shown().size(), 3u);
    EXPECT_EQ(chooser_->Shown()[2].kind, tk::DialogKind::Open);
    EXPECT_EQ(boxes(w), kParagraphLayout);
    EXPECT_EQ(tk::RuntimeUnhandledExceptionCount(), reports);
}

TEST_F(MainWindow, AFailingRuleIsReportedOnceAndTheWindowGoesOn) {
    // Without "LineBox" the rules of "Include Timecode" fail as the box is checked.
    tk::Ref<Window1> w = damagedWindow("LineBox");
    w->Show();
    chooser_->SetAutoDismissMessages(true);
    const std::size_t reportsBefore = tk::RuntimeUnhandledExceptionCount();
    click(tk::RuntimeWindowControlByName(w, "TimecodeBox"));  // unchecked: no rule to run
    EXPECT_TRUE(chooser_->Shown().empty());
    click(tk::RuntimeWindowControlByName(w, "TimecodeBox"));
    EXPECT_EQ(tk::RuntimeUnhandledExceptionCount(), reportsBefore + 1);
    ASSERT_EQ(chooser_->Shown().size(), 1u);
    EXPECT_NE(chooser_->Shown()[0].message.find("NilObjectException"), std::string::npos) << chooser_->Shown()[0].message;
    click(tk::RuntimeWindowControlByName(w, "BevelButton2"));
    ASSERT_EQ(chooser_->Shown().size(), 2u);
    EXPECT_EQ(chooser_->Shown()[1].message, Window1::kUnbufferedHelp);
    w->Close();
    EXPECT_EQ(tk::RuntimeExit(), 1);  // the run that reported it ends in failure
}

TEST_F(MainWindow, ProjectPicture) {
    AppFolder folder;
    // Absent: the window is built all the same, with no backdrop and no message, and
    // every new window looks again.
    EXPECT_FALSE(quillet::_x_Quillet::Quillet());
    tk::Ref<Window1> w = quillet::implicit::Window1();
    EXPECT_FALSE(controlOf<tk::Canvas>(w, "Canvas1")->Backdrop());
    EXPECT_TRUE(chooser_->Shown().empty());
    w.reset();
    closeMainWindow();

    // Present: read once, then the same object for every later window.
    folder.addPicture();
    const auto readsBefore = quillet::_x_Quillet::FileReads();
    w = quillet::implicit::Window1();
    tk::Ref<tk::Picture> pic = controlOf<tk::Canvas>(w, "Canvas1")->Backdrop();
    ASSERT_TRUE(pic);
    EXPECT_EQ(pic->Width(), 129);
    EXPECT_EQ(pic->Height(), 130);
    EXPECT_EQ(quillet::_x_Quillet::FileReads(), readsBefore + 1);
    w.reset();
    closeMainWindow();

    folder.removePicture();
    w = quillet::implicit::Window1();
    EXPECT_EQ(controlOf<tk::Canvas>(w, "Canvas1")->Backdrop(), pic);
    EXPECT_EQ(quillet::_x_Quillet::FileReads(), readsBefore + 1);
}

TEST_F(MainWindow, PictureLookupWithoutExecutable) {
    quillet::_x_Quillet::ResetCache();
    quillet::_x_Quillet::SetExecutableItemGetter([] { return tk::Ref<tk::FolderItem>(); });
    EXPECT_THROW(quillet::_x_Quillet::Quillet(), tk::NilObjectException);
    // A failure while the controls are built leaves no half-made main window behind.
    EXPECT_THROW(quillet::implicit::Window1(), tk::NilObjectException);
    EXPECT_FALSE(tk::_GetImplicitWindow(Window1::kClassName));
    quillet::_x_Quillet::SetExecutableItemGetter(nullptr);
    EXPECT_TRUE(quillet::implicit::Window1());
}

}  // namespace
