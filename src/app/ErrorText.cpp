#include "app/ErrorText.h"

namespace umbrane {

std::string TopLevelErrorText(std::string message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') {
    message += '.';
  }
  return message;
}

}  // namespace umbrane
