#pragma once
// The window is designed around Tahoma at fixed positions: a caption and its value sit side by
// side with little room between them.

// Windows: nothing to do, Tahoma is part of the system. Linux: Tahoma is rarely installed and the
// usual fallback (DejaVu Sans) is wide enough that the device panels' captions run into their
// values; a Helvetica-metric face (Nimbus Sans, else Liberation Sans or Arial) stands in for it.
// Call once, after the application object exists and before any window is built.
void InstallUiFontSubstitutes();
