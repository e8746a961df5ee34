#pragma once

// The file a recording is written into. It is created new and owner-only
// (O_EXCL, mode 0600), so it never takes over, truncates or follows whatever
// already has its name, and it gets its final name without replacing a file
// that has that name.

#include "common/Expected.h"

#include <string>
#include <system_error>

namespace velmarin::video {

class OutputFile {
public:
    // Creates `path`; std::errc::file_exists when the name is taken (a file,
    // a directory, a symbolic link, also a dangling one).
    static Expected<OutputFile, std::error_code> createNew(const std::string& path);

    // Takes over an open, writable descriptor.
    explicit OutputFile(int descriptor);
    OutputFile(OutputFile&& other) noexcept;
    OutputFile& operator=(OutputFile&& other) noexcept;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    // Negative once closed.
    int descriptor() const { return m_descriptor; }
    // Closes the file; some file systems (NFS) report a failed write only
    // here.
    std::error_code close();

private:
    int m_descriptor = -1;
};

// Renames `from` to `to` unless something named `to` exists:
// std::errc::file_exists then, and both files stay as they are.
std::error_code renameWithoutReplacing(const std::string& from, const std::string& to);

} // namespace velmarin::video
