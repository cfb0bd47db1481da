#pragma once
// The main window started as the program starts it, timed to its first exposure.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>

#include <cstdlib>
#include <memory>

#include "ui/mainform.h"

namespace bench {

// The window, shown and exposed, with the milliseconds that took in `ms`.
inline std::unique_ptr<TMainForm> StartWindow(double* ms) {
  QElapsedTimer timer;
  timer.start();
  auto form = std::make_unique<TMainForm>();
  form->show();
  if (!QTest::qWaitForWindowExposed(form.get(), 10000)) std::abort();
  QCoreApplication::processEvents();
  *ms = timer.nsecsElapsed() / 1e6;
  return form;
}

}  // namespace bench
