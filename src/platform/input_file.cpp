#include "platform/input_file.h"

std::string not_open_message(const std::string& path, const InputFile& file) {
  switch (file.not_open()) {
    case NotOpen::folder:
      return "Error: Can't read " + path + ": it is a folder, not a file!\n";
    case NotOpen::not_regular:
      return "Error: Can't read " + path +
             ": it is not a regular file (a named pipe, a device or a socket); every input is read more than once!\n";
    case NotOpen::refused:
      return "Error: Can't read " + path + ": " + file.reason() + "!\n";
    case NotOpen::none:
    case NotOpen::missing:
      break;
  }
  return "Error: Can't find " + path + "!\n";
}
