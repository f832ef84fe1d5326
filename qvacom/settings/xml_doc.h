// The settings document wrapper: one DOM document and the name of the file it was opened from.
// Every XML-backed settings object receives this wrapper as its `pDocument` and reaches the DOM
// through `XMLDOMDocument`; the file changes only when `Save` or `SaveAs` runs (or a member
// that calls them).
//
// Loading is synchronous: when `Open` or `Load` returns, the document is complete. A file that
// is missing, cut short or not well-formed fails the load with E_FAIL and leaves the document
// as it was (after `Open`: the fresh, empty document); the file itself is only ever read.
// Saving goes through the DOM's save, which writes a temporary file and renames it over the
// target, so a failed save leaves the old file whole. A document without a top-level element
// (after a failed `Open`) cannot be saved, so it can never empty the settings file.
//
// Single-threaded apartment object: no locks.
#pragma once

#include "msxml_idl.h"
#include "platform/com/bstr.h"
#include "platform/com/com_ptr.h"
#include "platform/com/dispatch.h"
#include "qvacom_idl.h"

namespace qva {

class CQVAXMLDoc : public com::Dispatch<IQVAXMLDoc> {
 public:
  QVA_DECL_IQVAXMLDoc;

 private:
  // Loads `file` into the current document; E_FAIL (with error information) when it fails.
  HRESULT LoadInto(BSTR file);
  // Saves the current document to `file`; the DOM's code (with error information) on failure.
  HRESULT SaveTo(BSTR file);

  com::ComPtr<IXMLDOMDocument> document_;  // null until the first Open creates one
  com::Bstr file_name_;                    // the name given to the last Open: Save's target
};

}  // namespace qva
