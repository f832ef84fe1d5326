// Late-bound access to the object model: every object is driven through its IDispatch by member
// name, so one piece of code serves the users, the nine named sets, the rule collections, the
// settings object and the real-time views alike, in process and through the remote proxies.
//
// A failing call throws Failure. Every failure ends the command, so the command code reads as
// the sequence of calls it makes and main reports the one failure there can be. Nothing here is
// an automation member: no exception crosses into the object model.
//
// Every object belongs to the thread that made the connection (COM's apartment rule).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/com/com_ptr.h"
#include "platform/com/types.h"
#include "platform/com/variant.h"

namespace vodrikctl {

// Why a command stopped: the code, what we were doing ("Item \"alice\""), and the description
// the object gave in its error information (may be empty).
struct Failure {
  HRESULT hr = E_FAIL;
  std::string what;
  std::string description;
};

// A command line the program cannot act on; main prints it with the usage hint (exit 64).
struct UsageError {
  std::string message;
};

using Object = com::ComPtr<IDispatch>;

// A property read: its name as the interface description spells it, and its value.
struct Property {
  std::string name;
  com::Variant value;
};

// Throws the failure of `hr` with the calling thread's error information as its description.
[[noreturn]] void Throw(HRESULT hr, std::string what);

// Reads property `name`. Objects arrive as VT_DISPATCH (or VT_UNKNOWN).
com::Variant Get(IDispatch* object, std::string_view name);
// Reads property `name` and hands it out as an object; a null object is a failure.
Object GetObject(IDispatch* object, std::string_view name);
// Puts `value` into property `name`; the dispatch layer coerces it to the property's type.
void Put(IDispatch* object, std::string_view name, const VARIANT& value);
// Calls method `name` with `args` in declaration order; its retval, VT_EMPTY when none.
com::Variant Call(IDispatch* object, std::string_view name, std::vector<com::Variant> args = {});
// Calls method `name` and hands its retval out as an object; a null retval is a failure.
Object CallForObject(IDispatch* object, std::string_view name, std::vector<com::Variant> args = {});

// The readable scalar properties of `object` in the order of its interface description, read
// through its type information: every property get without parameters whose value is not an
// object.
std::vector<Property> ReadProperties(IDispatch* object);

// The properties `names` of `object`, in that order (a table reads only its columns: through a
// remote proxy every property read is a round trip).
std::vector<Property> ReadProperties(IDispatch* object, const std::vector<std::string>& names);

// The items of a collection through its _NewEnum (a snapshot), in collection order.
std::vector<Object> Items(IDispatch* collection);

// The value of `name` in `properties` (exact name), or null.
const VARIANT* Find(const std::vector<Property>& properties, std::string_view name);

// The text of a scalar value as the tables and the exchange with scripts show it: decimal
// numbers in the "C" form (shortest text that reads back to the same double), booleans as
// true/false, dates as "YYYY-MM-DD" or "YYYY-MM-DD HH:MM:SS" (local calendar values).
std::string Text(const VARIANT& value);

// Puts a text into property `name`. Date properties take "YYYY-MM-DD" or "YYYY-MM-DD HH:MM:SS"
// and boolean ones true/false, so that what Text prints can be given back unchanged; any other
// text is handed over as a BSTR for the dispatch layer to coerce to the property's type.
void PutText(IDispatch* object, std::string_view name, std::string_view text);

}  // namespace vodrikctl
