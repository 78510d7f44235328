// The XML check and the fingerprint of one file from a single read.
#pragma once

#include <string>

namespace velarix {

struct FileExam {
  bool valid = false;  // what ValidaXML would say
  std::string hash;    // the fingerprint when valid, empty otherwise
};

// ValidaXML and then CalculaHash, from one read that feeds the same bytes to the parser and to
// SHA-1, so the fingerprint is of exactly the bytes that were checked: the file as it stood at
// the open (a document that declares a DTD is read twice, and the second read is the one
// fingerprinted). A file that cannot be opened or is not a proper document gives valid false and
// no fingerprint. Throws Error "Stream read error" when the file shrinks or a read fails before
// the check has rejected it: which of the two calls would have met the change is unknowable, and
// the error, like CalculaHash's, leaves the file for the next run.
FileExam ExaminaArquivo(const std::string& path);

}  // namespace velarix
