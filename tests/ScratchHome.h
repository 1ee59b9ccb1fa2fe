#pragma once

// Keeps a test program off the user's own files while it runs: HOME names a
// fresh temporary folder and Qt's standard paths are in test mode, so what Qt
// keeps for itself (the file dialog's history and last folder, in
// QtProject.conf) starts empty, never reaches ~/.config, and goes with the
// folder when the program ends. Call it from the test class's static
// initMain(), which runs before the application object is made.
namespace ScratchHome {

void enter();

} // namespace ScratchHome
