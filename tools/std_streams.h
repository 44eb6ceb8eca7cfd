// Standard input and output as files: the library only takes paths.
#pragma once

#include <string>

namespace bmpcontrast_cli {

// Copies everything on file descriptor `from` (from where it stands) to
// `to`. Returns 0 or an errno value; `readFailed` tells which side failed.
int CopyAll(int from, int to, bool& readFailed);

// Keeps the image stream apart from everything else printed on standard
// output: takes a private copy of file descriptor 1 for the image and points
// 1 at standard error, where the library's success line then goes.
class ImageStdout {
  public:
    ImageStdout();
    ~ImageStdout();
    ImageStdout(const ImageStdout&) = delete;
    ImageStdout& operator=(const ImageStdout&) = delete;

    bool valid() const { return fd_ >= 0; }
    // Sends the file open on `from` to the saved standard output and closes
    // it. Returns 0 or an errno value.
    int Send(int from);

  private:
    int fd_ = -1;
};

}  // namespace bmpcontrast_cli
