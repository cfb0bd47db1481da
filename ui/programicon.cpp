#include "ui/programicon.h"

QIcon ProgramIcon() {
  // PNG only: Qt reads it with no image plugin, where SVG would need one. Smaller sizes are
  // scaled from the 32-pixel drawing.
  QIcon icon;
  for (const int size : {32, 48, 128})
    icon.addFile(QStringLiteral(":/icons/velmo-%1.png").arg(size), QSize(size, size));
  return icon;
}
