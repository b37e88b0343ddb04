// The package's entry for the designer: after loading the package, a
// designer looks up Register by its plain name and calls it to put the
// package's components on its palette.
#pragma once

// Registers the class TTarnSerialPort on the palette page "Tarnwerk" and does
// nothing else; calling it again changes nothing. Raises the framework's
// EComponentError when another class has already taken the name. Safe on any
// thread: the palette is guarded by the framework.
extern "C" void Register();
