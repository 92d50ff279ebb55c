// Module start of the desktop program, before any window exists.
#pragma once

namespace studio {

// Loads what the library modules load at start: the MITAB table library
// (whether TAB output is offered is fixed from here on), the spatial search
// as the network's nearest-node finder, and the alpha-shape library. Raises
// when a library that is present cannot be used; the program then stops.
void LoadLibraries();
// DataFolder := CommonAppDataFolder + "orvellastudio/" (the folder is made
// by the main window); ProgramFolder := ExeFolder.
void InitAppState();

}  // namespace studio
