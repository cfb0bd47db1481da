#pragma once
// Reading a file named from outside (a track, a language file) without trusting what it is:
// only a regular file is read, and a FIFO or a device put in its place never blocks the reader.
#include <QString>

#include <sys/types.h>

#include <cstddef>
#include <limits>
#include <string>

namespace platform {

// The file's last `last` bytes (all of a shorter file) into `bytes`. A file larger than
// `maxSize` is refused with EFBIG. Returns 0, or the errno of the failure: EISDIR for a folder,
// EINVAL for any other kind of file that is not regular.
int readRegularFile(const QString& path, std::string& bytes,
                    std::size_t last = std::numeric_limits<std::size_t>::max(),
                    off_t maxSize = std::numeric_limits<off_t>::max());

// "Cannot open file "<path>". <reason>", the message of a failed read.
std::string openErrorText(const QString& path, int error);

}  // namespace platform
