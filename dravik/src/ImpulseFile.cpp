#include "ImpulseFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "veskio2/ByteOrder.h"

namespace dravik {
namespace {

// A temporary file that closes itself and disappears unless it was renamed
// into place.
class TemporaryFile {
public:
    explicit TemporaryFile(const std::string& directory_prefix) {
        std::vector<char> name(directory_prefix.begin(), directory_prefix.end());
        const char suffix[] = ".dravik-XXXXXX";
        name.insert(name.end(), suffix, suffix + sizeof suffix);
        fd_ = mkstemp(name.data());
        if (fd_ >= 0) path_ = name.data();
    }
    ~TemporaryFile() {
        close_fd();
        if (!path_.empty()) unlink(path_.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    bool valid() const { return fd_ >= 0; }

    bool write_all(const unsigned char* data, std::size_t size) {
        while (size > 0) {
            ssize_t written = ::write(fd_, data, size);
            if (written < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            data += written;
            size -= static_cast<std::size_t>(written);
        }
        return true;
    }

    // Gives the file the permissions a newly created file would get, closes
    // it and moves it to `target`.
    bool commit(const std::string& target) {
        mode_t mask = umask(0);
        umask(mask);
        if (fchmod(fd_, 0666 & ~mask) != 0) return false;
        if (!close_fd()) return false;
        if (std::rename(path_.c_str(), target.c_str()) != 0) return false;
        path_.clear();
        return true;
    }

private:
    bool close_fd() {
        if (fd_ < 0) return true;
        int status = ::close(fd_);
        fd_ = -1;
        return status == 0;
    }

    int fd_ = -1;
    std::string path_;
};

void put_little_endian(float value, unsigned char* out) { veskio2::detail::StoreF32(out, value); }

}  // namespace

std::string impulse_file_name(const std::string& head, int ordinal) {
    return ImpulseFileName(head, ordinal);
}

int write_float_file(const std::string& path, const double* values, int count) {
    if (!values || path.empty() || count < 0) return -1;
    std::string::size_type slash = path.rfind('/');
    std::string directory_prefix = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    TemporaryFile file(directory_prefix);
    if (!file.valid()) return -1;
    std::vector<unsigned char> bytes(static_cast<std::size_t>(count) * 4);
    for (int m = 0; m < count; ++m) {
        put_little_endian(static_cast<float>(values[m]), bytes.data() + 4 * static_cast<std::size_t>(m));
    }
    if (!file.write_all(bytes.data(), bytes.size())) return -1;
    return file.commit(path) ? 0 : -1;
}

}  // namespace dravik
