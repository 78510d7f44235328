// The XML check: whether a file is a well-formed XML document.
#pragma once

#include <string>

namespace velarix {

class ContentReader;

// True exactly when the file at path loads as a well-formed XML document (valid against its own
// internal DTD when it has one) and the parser reports no error. False for every file that does
// not load, including one that cannot be opened. Throws Error only when the check itself cannot
// be performed. Never reads the network or any file other than path.
bool ValidaXML(const std::string& path);

// The check of ValidaXML over the bytes reader hands out; opens reader itself, and opens it once
// more to read from the start when the document turns out to declare an internal DTD. Reads no
// further once the document has failed. False when the file cannot be opened or read whole.
bool CheckXmlDocument(ContentReader& reader);

}  // namespace velarix
