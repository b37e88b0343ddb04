// The registry of component classes that streams can create by name, and
// the designer's palette: which classes appear on which page.
//
// The registries hold pointers to class metadata, which lives in static
// storage of the library that declares the class; a library that is
// unloaded unregisters its classes first. Every function is guarded by one
// internal mutex and may be called from any thread.
//
// <windows.h> defines RegisterClass as a macro; a file that uses these
// functions does not include it.
#pragma once

#include <initializer_list>
#include <vector>

#include "host_component.h"

namespace tarn::host {

// Registering a class again is harmless; another class under a name already
// taken raises EComponentError.
void RegisterClass(const TComponentClass& cls);
// Also takes the class off every palette page.
void UnregisterClass(const TComponentClass& cls);
// A registered class by name, without regard to case; null if none.
const TComponentClass* FindClass(const UnicodeString& name);

// Registers the classes and appends them to the palette page, in the order
// given; a class already on the page keeps its place.
void RegisterComponents(const UnicodeString& page,
                        std::initializer_list<const TComponentClass*> classes);
// The classes on a page, in registration order; empty for an unknown page.
std::vector<const TComponentClass*> PaletteClasses(const UnicodeString& page);
std::vector<UnicodeString> PalettePages();

}  // namespace tarn::host
