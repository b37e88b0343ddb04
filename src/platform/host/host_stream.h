// Component streams in the text form of form files:
//
//   object SerialPort1: TTarnSerialPort
//     Port = spCOM3
//     NewLine = #13#10
//     OnReceive = SerialPort1Receive
//   end
//
// Writing puts down the name and class, then each published property whose
// value differs from its recorded default (or that has none), in declaration
// order; an event only when its handler has a name that the component's
// owner resolves. Reading checks the whole text before it changes anything:
// malformed text, an unknown class or property, or a property given twice
// raise EReadError naming the line. Then it applies the properties in
// declaration order, whatever their order in the text, so that a setter may
// rely on the properties declared before it. A value the property refuses,
// or an exception of its setter, raises EReadError naming the property and
// the line, with the original exception nested (std::nested_exception).
// Properties absent from the text keep the values the constructor gave them.
//
// Runs on the thread that owns the components; see host_component.h.
#pragma once

#include <string>

#include "host_component.h"

namespace tarn::host {

std::string WriteComponent(const TComponent& component);

// Creates an instance of the class named in the text (see RegisterClass)
// with `owner`, applies the properties, then sets the name. On any error the
// new instance is destroyed and nothing remains.
TComponent* ReadComponent(const std::string& text, TComponent* owner);

// Applies a stream to an existing component whose class is the named class
// or derives from it. The name is set when the text gives one. On an error
// in a value the properties applied before it keep their new values.
void ReadComponentInto(const std::string& text, TComponent& component);

}  // namespace tarn::host
