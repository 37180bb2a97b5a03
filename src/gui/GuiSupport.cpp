// Drawn pictures (no image files to lose) and the save step after a change.
#include "gui/GuiSupport.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QThread>

#include <exception>
#include <map>
#include <thread>

#include <optional>

#include "scan/ScanDriver.h"

namespace brisquell::gui {

namespace {

QPixmap blank(int size) {
  QPixmap p(size, size);
  p.fill(Qt::transparent);
  return p;
}

}  // namespace

namespace {

QIcon drawnThreatIcon(int number) {
  QPixmap p = blank(16);
  QPainter g(&p);
  g.setRenderHint(QPainter::Antialiasing);
  QFont f = g.font();
  f.setPixelSize(11);
  f.setBold(true);
  g.setFont(f);
  switch (number) {
    case 100:  // High: red disc with "!"
      g.setBrush(QColor(200, 30, 30));
      g.setPen(QColor(120, 0, 0));
      g.drawEllipse(QRectF(1, 1, 14, 14));
      g.setPen(Qt::white);
      g.drawText(QRect(0, 0, 16, 16), Qt::AlignCenter, "!");
      break;
    case 101: {  // Medium: orange triangle
      QPainterPath t;
      t.moveTo(8, 1);
      t.lineTo(15, 14.5);
      t.lineTo(1, 14.5);
      t.closeSubpath();
      g.setBrush(QColor(245, 150, 20));
      g.setPen(QColor(150, 80, 0));
      g.drawPath(t);
      g.setPen(Qt::black);
      g.drawText(QRect(0, 3, 16, 13), Qt::AlignCenter, "!");
      break;
    }
    case 102:  // Low: blue square with "i"
      g.setBrush(QColor(40, 110, 200));
      g.setPen(QColor(10, 50, 120));
      g.drawRoundedRect(QRectF(1.5, 1.5, 13, 13), 3, 3);
      g.setPen(Qt::white);
      g.drawText(QRect(0, 0, 16, 16), Qt::AlignCenter, "i");
      break;
    default: {  // a problem: a page with a red cross
      g.setBrush(Qt::white);
      g.setPen(QColor(90, 90, 90));
      g.drawRect(QRectF(3.5, 1.5, 9, 13));
      g.setPen(QPen(QColor(200, 0, 0), 2));
      g.drawLine(QPointF(6, 5), QPointF(11, 11));
      g.drawLine(QPointF(11, 5), QPointF(6, 11));
      break;
    }
  }
  return QIcon(p);
}

}  // namespace

QIcon threatIcon(int number) {
  // Drawn once each: a results tree of thousands of rows would otherwise paint one per row.
  static std::map<int, QIcon> drawn;
  auto it = drawn.find(number);
  if (it == drawn.end()) it = drawn.emplace(number, drawnThreatIcon(number)).first;
  return it->second;
}

QIcon programIcon() {
  QIcon icon;
  for (int size : {16, 32, 64}) {
    QPixmap p = blank(size);
    QPainter g(&p);
    g.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    QLinearGradient grad(0, 0, s, s);
    grad.setColorAt(0, QColor(40, 120, 210));
    grad.setColorAt(1, QColor(10, 50, 130));
    g.setBrush(grad);
    g.setPen(Qt::NoPen);
    g.drawRoundedRect(QRectF(0.5, 0.5, s - 1, s - 1), s / 5, s / 5);
    // A broom's sweep: three white strokes.
    g.setPen(QPen(Qt::white, s / 10, Qt::SolidLine, Qt::RoundCap));
    g.drawLine(QPointF(s * 0.25, s * 0.75), QPointF(s * 0.75, s * 0.25));
    g.drawLine(QPointF(s * 0.25, s * 0.75), QPointF(s * 0.55, s * 0.8));
    g.drawLine(QPointF(s * 0.25, s * 0.75), QPointF(s * 0.2, s * 0.45));
    icon.addPixmap(p);
  }
  return icon;
}

QPixmap headerPicture(int width, int height, const QString& title, const QString& subtitle) {
  QPixmap p(width, height);
  QPainter g(&p);
  g.setRenderHint(QPainter::Antialiasing);
  QLinearGradient grad(0, 0, width, 0);
  grad.setColorAt(0, QColor(16, 60, 140));
  grad.setColorAt(1, QColor(70, 150, 230));
  g.fillRect(p.rect(), grad);
  g.drawPixmap(12, (height - 32) / 2, programIcon().pixmap(32, 32));
  QFont f = g.font();
  f.setPixelSize(height / 3 > 20 ? 20 : height / 3);
  f.setBold(true);
  g.setFont(f);
  g.setPen(Qt::white);
  const int x = 56;
  if (subtitle.isEmpty()) {
    g.drawText(QRect(x, 0, width - x, height), Qt::AlignVCenter | Qt::AlignLeft, title);
  } else {
    g.drawText(QRect(x, 4, width - x, height / 2), Qt::AlignBottom | Qt::AlignLeft, title);
    f.setBold(false);
    f.setPixelSize(12);
    g.setFont(f);
    g.drawText(QRect(x, height / 2 + 2, width - x, height / 2 - 4), Qt::AlignTop | Qt::AlignLeft,
               subtitle);
  }
  return p;
}

HeldTarget::HeldTarget(Target& target) : changes_(std::make_unique<TargetChanges>(target)) {
  if (!runOffWindowThread([this] { return changes_->begin(); })) changes_.reset();
}

HeldTarget::~HeldTarget() {
  if (!changes_ || std::uncaught_exceptions() > 0) return;
  (void)runOffWindowThread([this] {
    changes_.reset();
    return Outcome{};
  });
}

bool applyChange(Target& target, UserInterface& ui, const std::function<void()>& change) {
  HeldTarget held(target);
  TargetChanges changes(target);
  if (Outcome allowed = runOffWindowThread([&] { return changes.begin(); }); !allowed) {
    ui.warn(kProductName, allowed.message());
    return false;
  }
  change();
  if (Outcome saved = changes.save(); !saved) {
    ui.warn(kProductName, "The change could not be saved: " + saved.message());
    return false;
  }
  return true;
}

bool applyCheckedChange(Target& target, UserInterface& ui, const std::function<Outcome()>& change) {
  std::optional<Error> failed;
  const bool saved = applyChange(target, ui, [&] {
    Outcome done = change();
    if (done) return;
    failed = done.error();
    // What did take is dropped too: the registry is the files' again, and the save has
    // nothing to write.
    if (Outcome back = target.reload(); !back) failed->message += "; " + back.message();
  });
  if (!failed) return saved;
  ui.warn(kProductName, "The change could not be saved: " + failed->message);
  return false;
}

Outcome runOffWindowThread(const std::function<Outcome()>& work) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app || QThread::currentThread() != app->thread()) return work();
  Outcome result;
  std::exception_ptr failure;
  QEventLoop loop;
  std::thread worker([&] {
    try {
      result = work();
    } catch (...) {
      failure = std::current_exception();
    }
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  // Input waits, so nothing the user does reaches the registry while it is written; the loop
  // can end early when the program quits, and then the save is simply waited for.
  loop.exec(QEventLoop::ExcludeUserInputEvents);
  worker.join();
  if (failure) std::rethrow_exception(failure);
  return result;
}

void saveOffWindowThread() { TargetChanges::setSaveRunner(runOffWindowThread); }

void runStepOffWindowThread(const std::function<void()>& step) {
  (void)runOffWindowThread([&] {
    step();
    return Outcome{};
  });
}

}  // namespace brisquell::gui
