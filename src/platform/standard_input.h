// Standard input, as the bytes of UTF-8 text.
#pragma once

#include <string>

namespace bonesplice::platform {

class StandardInput {
 public:
  // The next byte, -1 at the end of the input or on an error. On Windows a console's input is
  // read as wide text, and piped input that is not UTF-8 is taken in the console's input code
  // page; both arrive here as UTF-8.
  int ReadByte();

 private:
  // Reads the next piece of input into pending_; false at the end or on an error.
  bool Refill();

  std::string pending_;  // bytes read but not yet handed out, from at_ on
  size_t at_ = 0;
};

}  // namespace bonesplice::platform
