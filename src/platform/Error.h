// The project's error class. Every failure that leaves an operation is an Error (or derived
// from it) whose what() is the text the log or the message box shows.
#pragma once

#include <stdexcept>
#include <string>

namespace velarix {

class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The system's text for an errno value, such as "No such file or directory".
std::string SystemErrorText(int error_number);

}  // namespace velarix
