// The interface language: reading the chosen language file into the window's captions, and the
// file named on the command line, which the language box's change handler carries.
#include "ui/mainform.h"

void TMainForm::cboxLngChange() {
  // Language files are read and applied here once they ship with the program.
}
