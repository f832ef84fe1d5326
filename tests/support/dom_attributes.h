// An element's attribute nodes in document order, read through the DOM interfaces, for tests
// that check what an element holds.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "msxml_idl.h"
#include "platform/com/com_ptr.h"

namespace qva::testing {

inline std::vector<com::ComPtr<IXMLDOMNode>> AttributeNodes(IXMLDOMNode* element) {
  com::ComPtr<IXMLDOMNamedNodeMap> map;
  EXPECT_EQ(element->get_attributes(map.put()), S_OK);
  std::vector<com::ComPtr<IXMLDOMNode>> out;
  if (!map) return out;
  LONG n = 0;
  EXPECT_EQ(map->get_length(&n), S_OK);
  for (LONG i = 0; i < n; ++i) {
    com::ComPtr<IXMLDOMNode> attribute;
    EXPECT_EQ(map->get_item(i, attribute.put()), S_OK);
    out.push_back(attribute);
  }
  return out;
}

}  // namespace qva::testing
