// Saves pictures of the windows over a machine folder (the README's screenshots):
//   brisquell_gui_screenshots MACHINE OUTDIR
// Run it under an X server (scripts/screenshots uses Xvfb); it changes the machine (it repairs).
#include <QApplication>
#include <QDir>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>

#include "gui/frmAbout.h"
#include "gui/frmBootingSpeed.h"
#include "gui/frmMain.h"
#include "gui/frmOptionsAndSettings.h"
#include "gui/frmRestore.h"
#include "gui/frmSpeedIntenetConnection.h"
#include "platform/UserInterface.h"

namespace {

class Yes final : public brisquell::UserInterface {
 public:
  bool askYesNo(std::string_view, std::string_view) override { return true; }
  void inform(std::string_view, std::string_view) override {}
  void warn(std::string_view, std::string_view) override {}
};

void settle(int ms = 150) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool save(QWidget& w, const QString& file) {
  settle();
  bool ok = w.grab().save(file);
  std::printf("%s %s\n", ok ? "saved" : "FAILED", qPrintable(file));
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 3) {
    std::fprintf(stderr, "usage: brisquell_gui_screenshots MACHINE OUTDIR\n");
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[2]);
  QDir().mkpath(out);
  auto targetOpened = brisquell::openTarget(argv[1]);
  auto target = targetOpened ? std::move(targetOpened).value() : nullptr;
  if (!target) {
    std::fprintf(stderr, "%s\n", targetOpened.message().c_str());
    return 2;
  }
  Yes ui;
  brisquell::gui::frmMain w(*target, ui, {}, "1.25");
  w.endProcess = [] {};
  w.resize(800, 560);
  w.show();
  bool ok = save(w, out + "/start-page.png");

  // The scan page, taken while the scan runs: the pump runs at every yield point here.
  bool scanShot = false;
  w.pump().setInterval(0);
  w.pump().afterEvents = [&] {
    if (scanShot || w.context().progress().size() < 6) return;
    scanShot = true;
    ok = save(w, out + "/scan-page.png") && ok;
  };
  w.cmdDeepScan_Click();
  w.pump().afterEvents = nullptr;
  ok = ok && scanShot;
  for (int i = 0; i < w.vbatvwResults->topLevelItemCount() && i < 2; ++i)
    w.vbatvwResults->topLevelItem(i)->setExpanded(true);
  if (w.vbatvwResults->topLevelItemCount() > 0) {
    QTreeWidgetItem* first = w.vbatvwResults->topLevelItem(0);
    if (first->childCount() > 0) first->child(0)->setCheckState(0, Qt::Unchecked);
  }
  ok = save(w, out + "/results-page.png") && ok;

  w.cmdRepairCorruptFiles_Click();  // leaves a backup set for the restore window
  w.runModal = [&](QDialog& d) {
    d.show();
    ok = save(d, out + "/restore-window.png") && ok;
    return 0;
  };
  w.cmdRestore_Click();
  w.runModal = [&](QDialog& d) {
    d.show();
    QString name = d.metaObject()->className();
    name = name.mid(name.lastIndexOf(':') + 1);
    const QString file = name == "frmOptionsAndSettings" ? "options-window"
                         : name == "frmAbout"            ? "about-window"
                         : name == "frmBootingSpeed"     ? "startup-programs-window"
                                                         : "internet-window";
    ok = save(d, out + "/" + file + ".png") && ok;
    return 0;
  };
  w.mnuTOptionsAndSettings_Click();
  w.mnuHelpAboutThisProgram_Click();
  w.MnuFileSpeedUpMyComputer_Click();
  w.mnuFileSpeedUpMyInternet_Click();
  return ok ? 0 : 1;
}
