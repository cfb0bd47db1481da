#pragma once
// The main window started as the program starts it, timed to its first exposure.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>

#include <cstdlib>
#include <memory>

#include "bench/benchlibrary.h"
#include "ui/mainform.h"
#include "ui/tracklistmodel.h"

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

// The window started on a stored main list of `tracks` library tracks at `listPath`; aborts
// unless every row is there.
inline std::unique_ptr<TMainForm> StartOnStoredList(const QString& listPath, int tracks) {
  StoreLibraryList(listPath, tracks);
  double ms = 0;
  std::unique_ptr<TMainForm> form = StartWindow(&ms);
  if (form->TrackList()->rowCount() != tracks) std::abort();
  return form;
}

}  // namespace bench
