#include "run/FileExam.h"

#include "platform/Error.h"
#include "run/ContentReader.h"
#include "run/Fingerprint.h"
#include "run/XmlCheck.h"

namespace velarix {

FileExam ExaminaArquivo(const std::string& path) {
  thread_local Sha1 digest;  // restarted by the reader's open; one per thread spares a context
  ContentReader reader(path, &digest);
  bool valid = CheckXmlDocument(reader);
  // The check reads no further once the document has failed, so a short read means the bytes
  // read so far gave no reason to reject it: whether the file is a proper document is unknown,
  // which is what CalculaHash reports when the file changes under it.
  if (reader.short_read()) throw Error("Stream read error");
  if (!valid) return {};
  return {true, digest.HexDigest()};
}

}  // namespace velarix
