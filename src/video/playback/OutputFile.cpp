#include "video/playback/OutputFile.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace velmarin::video {

namespace {

std::error_code lastError() {
    return {errno, std::generic_category()};
}

} // namespace

Expected<OutputFile, std::error_code> OutputFile::createNew(const std::string& path) {
    const int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (descriptor < 0)
        return unexpected(lastError());
    return OutputFile(descriptor);
}

OutputFile::OutputFile(int descriptor)
    : m_descriptor(descriptor) {}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : m_descriptor(std::exchange(other.m_descriptor, -1)) {}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
    if (this != &other) {
        close();
        m_descriptor = std::exchange(other.m_descriptor, -1);
    }
    return *this;
}

OutputFile::~OutputFile() {
    close();
}

std::error_code OutputFile::close() {
    if (m_descriptor < 0)
        return {};
    // Not retried on EINTR: Linux has released the descriptor either way.
    const int result = ::close(std::exchange(m_descriptor, -1));
    return result == 0 ? std::error_code() : lastError();
}

std::error_code renameWithoutReplacing(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return {};
    if (errno != EINVAL && errno != ENOSYS)
        return lastError();
    // The file system has no such rename (NFS): a hard link fails on an
    // existing name just the same.
    if (::link(from.c_str(), to.c_str()) != 0)
        return lastError();
    ::unlink(from.c_str());
    return {};
}

} // namespace velmarin::video
