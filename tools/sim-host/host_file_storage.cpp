#include "host_file_storage.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace {

// Closes a file without changing errno, so that a message names the failure
// that came before.
void CloseKeepingErrno(std::FILE *file) {
    const int saved = errno;
    std::fclose(file);
    errno = saved;
}

}  // namespace

bool ReadHostFile(const std::string &path, std::string *text) {
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return false;
    }
    text->clear();
    // Room for a regular file at once; one that grows meanwhile still reads whole.
    struct stat status;
    if (fstat(fileno(file), &status) == 0 && S_ISREG(status.st_mode)) {
        text->reserve(static_cast<std::size_t>(status.st_size));
    }
    char chunk[65536];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        text->append(chunk, got);
    }
    const bool read = std::ferror(file) == 0;
    CloseKeepingErrno(file);
    return read;
}

bool ReplaceHostFile(const std::string &path, const std::string &text) {
    const std::string temporary = path + ".tmp." + std::to_string(getpid());
    std::FILE *file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    written = std::fclose(file) == 0 && written;
    if (!written || std::rename(temporary.c_str(), path.c_str()) != 0) {
        const int saved = errno;
        std::remove(temporary.c_str());
        errno = saved;
        return false;
    }
    return true;
}
