#pragma once

// Gives the application its place on the desktop: the window icon, the
// pile drawn in its own colours, and the application id, which names the
// desktop entry so that desktop shells match the windows to it. Call once
// the application object exists.
void setDesktopIdentity();
