#include "platform/UiFonts.h"

void InstallUiFontSubstitutes() {}
