// The POSIX services behind the platform interfaces: instance lock, document opener, the
// program's own files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

#include "platform/ProgramLocation.h"
#include "platform/posix/PosixInstanceLock.h"
#include "platform/posix/XdgDocumentOpener.h"
#include "support/TempDir.h"

namespace brisquell {
namespace {

namespace fs = std::filesystem;

// Sets an environment variable for the length of a scope.
class EnvVar {
 public:
  EnvVar(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~EnvVar() {
    if (old_)
      ::setenv(name_, old_->c_str(), 1);
    else
      ::unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(PosixInstanceLock, OneHolderAtATimeAndAClearReasonWhenNoneCanBeHeld) {
  test::TempDir dir;
  auto first = makeInstanceLock("brisquell-gui", dir.path());
  auto second = makeInstanceLock("brisquell-gui", dir.path());
  std::string error;
  EXPECT_EQ(first->acquire(error), InstanceLock::State::Acquired);
  EXPECT_EQ(first->where(), dir / "brisquell-gui.lock");
  EXPECT_EQ(first->acquire(error), InstanceLock::State::Acquired)
      << "taking it again is no conflict";
  EXPECT_EQ(second->acquire(error), InstanceLock::State::AlreadyRunning);
  first->release();
  EXPECT_EQ(second->acquire(error), InstanceLock::State::Acquired);
  second.reset();  // going away releases it
  EXPECT_EQ(first->acquire(error), InstanceLock::State::Acquired);

  auto nowhere = makeInstanceLock("brisquell-gui", dir / "missing");
  error.clear();
  EXPECT_EQ(nowhere->acquire(error), InstanceLock::State::Unavailable);
  EXPECT_NE(error.find(dir / "missing/brisquell-gui.lock"), std::string::npos) << error;

  // A runtime folder others can write into is not used; a private one below TMPDIR is.
  const std::string open = dir / "open";
  fs::create_directory(open);
  ::chmod(open.c_str(), 0777);
  EnvVar xdg("XDG_RUNTIME_DIR", open);
  EnvVar tmp("TMPDIR", dir.path());
  error.clear();
  const std::string folder = PosixInstanceLock::runtimeFolder(error);
  EXPECT_EQ(folder, dir / ("brisquell-" + std::to_string(::geteuid()))) << error;
  struct stat st {};
  ASSERT_EQ(::stat(folder.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

class XdgDocumentOpenerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::writeText(dir / "sys/mime/globs2",
                    "# weight:type:glob\n"
                    "10:text/x-weak:*.html\n"
                    "50:text/html:*.HTML\n"
                    "60:text/x-exact:*.Cs:cs\n"
                    "broken line\n");
    test::writeText(dir / "home/applications/viewer.desktop",
                    "[Desktop Entry]\nName=Viewer\nExec=viewer --new \"%f\" %i\n"
                    "[Desktop Action other]\nExec=other %f\n");
    test::writeText(dir / "bin/xdg-mime",
                    "#!/bin/sh\n"
                    "case \"$3\" in text/html) echo viewer.desktop ;; text/x-exact) echo ;;"
                    " *) exit 1 ;; esac\n");
    ::chmod((dir / "bin/xdg-mime").c_str(), 0755);
  }
  test::TempDir dir;
};

TEST_F(XdgDocumentOpenerTest, TheDesktopsChoiceWithTheDocumentPutInWhole) {
  EnvVar home("XDG_DATA_HOME", dir / "home");
  EnvVar dirs("XDG_DATA_DIRS", dir / "sys");
  EnvVar path("PATH", dir / "bin:" + std::string(std::getenv("PATH")));
  EXPECT_EQ(XdgDocumentOpener::dataFolders(),
            (std::vector<std::string>{dir / "home", dir / "sys"}));

  EXPECT_EQ(XdgDocumentOpener::mimeTypeOf("html"), "text/html") << "the heavier glob wins";
  EXPECT_EQ(XdgDocumentOpener::mimeTypeOf("Cs"), "text/x-exact");
  EXPECT_EQ(XdgDocumentOpener::mimeTypeOf("cs"), std::nullopt) << "a cs glob keeps its case";

  XdgDocumentOpener opener;
  const std::string document = "/files/My Help.htm";
  auto program = opener.programFor(document, "html");
  EXPECT_EQ(program.lookup, DocumentOpener::Lookup::Found);
  EXPECT_EQ(program.command, (std::vector<std::string>{"viewer", "--new", document}));
  EXPECT_EQ(opener.programFor(document, "Cs").lookup, DocumentOpener::Lookup::NoProgram)
      << "a type without a default program";
  EXPECT_EQ(opener.programFor(document, "none").lookup, DocumentOpener::Lookup::NoProgram);
  test::writeText(dir / "sys/mime/globs2", "50:text/x-unknown:*.html\n");
  EXPECT_EQ(opener.programFor(document, "html").lookup, DocumentOpener::Lookup::Failed)
      << "xdg-mime failing is a failed lookup, not a missing program";
}

TEST_F(XdgDocumentOpenerTest, WithoutXdgMimeNoProgramIsKnown) {
  EnvVar home("XDG_DATA_HOME", dir / "home");
  EnvVar dirs("XDG_DATA_DIRS", dir / "sys");
  std::filesystem::create_directories(dir / "empty");
  EnvVar path("PATH", dir / "empty");
  XdgDocumentOpener opener;
  EXPECT_EQ(opener.programFor("/files/Help.htm", "html").lookup, DocumentOpener::Lookup::NoProgram);
  // xdg-mime saying a tool it needs is missing is a missing opener too.
  test::writeText(dir / "empty/xdg-mime", "#!/bin/sh\nexit 3\n");
  ::chmod((dir / "empty/xdg-mime").c_str(), 0755);
  EXPECT_EQ(opener.programFor("/files/Help.htm", "html").lookup, DocumentOpener::Lookup::NoProgram);
}

TEST(XdgDocumentOpener, StartSaysWhetherTheProgramStarted) {
  XdgDocumentOpener opener;
  EXPECT_TRUE(opener.start({"true"}));
  EXPECT_FALSE(opener.start({"/nonexistent/brisquell-no-such-program"}));
  EXPECT_FALSE(opener.start({}));
}

TEST(PosixProgramLocation, TheProgramsOwnFolderAndItsInstallation) {
  const std::string self = currentProgramPath();
  ASSERT_FALSE(self.empty());
  EXPECT_EQ(fs::path(self).filename(), "brisquell_tests");
  const fs::path folder = fs::path(self).parent_path();
  EXPECT_EQ(siblingProgramPath("brisquell-gui"), (folder / "brisquell-gui").string());

  // Beside the program first (a build tree), then the installation's share folder.
  const std::string name = "probe-" + std::to_string(::getpid()) + ".txt";
  const fs::path share = folder.parent_path() / "share" / "brisquell-probe";
  EXPECT_EQ(installedFile("share/brisquell-probe", name), "");
  test::writeText((share / name).string(), "installed");
  EXPECT_EQ(installedFile("share/brisquell-probe", name), (share / name).string());
  test::writeText((folder / name).string(), "beside");
  EXPECT_EQ(installedFile("share/brisquell-probe", name), (folder / name).string());
  fs::remove(folder / name);
  fs::remove_all(share);
}

}  // namespace
}  // namespace brisquell
