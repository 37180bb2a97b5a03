// Opening a document: which message goes with each way the system's opener can fail.
#include "shell/OpenWith.h"

#include <gtest/gtest.h>

#include "support/ScriptedInterface.h"

namespace brisquell {
namespace {

class FakeOpener final : public DocumentOpener {
 public:
  Program answer;
  bool starts = true;
  std::vector<std::vector<std::string>> started;
  std::string askedDocument, askedExtension;

  Program programFor(std::string_view document, std::string_view extension) override {
    askedDocument = document;
    askedExtension = extension;
    return answer;
  }
  bool start(const std::vector<std::string>& command) override {
    started.push_back(command);
    return starts;
  }
};

TEST(OpenWith, EachOutcomeHasItsMessageAndOnlyAFoundProgramStarts) {
  FakeOpener opener;
  opener.answer = {DocumentOpener::Lookup::Found, {"viewer", "--new", "/a b/Help.htm"}};
  test::ScriptedInterface ui;
  EXPECT_EQ(OpenWith::open(opener, ui, "/a b/Help.htm", "html"), OpenWith::Outcome::Started);
  EXPECT_EQ(opener.askedDocument, "/a b/Help.htm");
  EXPECT_EQ(opener.askedExtension, "html");
  ASSERT_EQ(opener.started.size(), 1u);
  EXPECT_EQ(opener.started[0], opener.answer.command);
  EXPECT_TRUE(ui.informed.empty() && ui.warned.empty());

  opener.starts = false;
  EXPECT_EQ(OpenWith::open(opener, ui, "x", "html"), OpenWith::Outcome::StartFailed);
  EXPECT_EQ(ui.warned, (std::vector<std::string>{std::string(OpenWith::kNotOpened)}));

  ui.warned.clear();
  opener.started.clear();
  opener.answer = {DocumentOpener::Lookup::NoProgram, {}};
  EXPECT_EQ(OpenWith::open(opener, ui, "x", "zzz"), OpenWith::Outcome::NoApplication);
  EXPECT_EQ(ui.warned, (std::vector<std::string>{std::string(OpenWith::kNoApplication)}));

  ui.warned.clear();
  opener.answer = {DocumentOpener::Lookup::Failed, {}};
  EXPECT_EQ(OpenWith::open(opener, ui, "x", "html"), OpenWith::Outcome::LookupFailed);
  EXPECT_EQ(ui.informed, (std::vector<std::string>{std::string(OpenWith::kCannotLookUp)}));
  EXPECT_TRUE(ui.warned.empty());
  EXPECT_TRUE(opener.started.empty()) << "nothing starts unless a program was found";

  // A found program without a command line is a failed start, never a start of nothing.
  opener.answer = {DocumentOpener::Lookup::Found, {}};
  EXPECT_EQ(OpenWith::open(opener, ui, "x", "html"), OpenWith::Outcome::StartFailed);
  EXPECT_TRUE(opener.started.empty());
}

}  // namespace
}  // namespace brisquell
