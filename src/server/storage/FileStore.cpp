#include "server/storage/FileStore.h"

#include "server/ApiMessage.h"
#include "server/storage/NameIndex.h"
#include "server/storage/StoragePath.h"

#include <QByteArray>
#include <QRandomGenerator>
#include <QString>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

namespace {

bool fail(std::string* error, const char* message) {
    if (error)
        *error = message;
    return false;
}

std::string randomHex(int bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (int i = 0; i < bytes; ++i) {
        const quint32 v = QRandomGenerator::system()->bounded(256);
        out += digits[v >> 4];
        out += digits[v & 15];
    }
    return out;
}

} // namespace

FileStore::FileStore(std::string root) : m_root(std::move(root)), m_names(std::make_shared<NameIndex>()) {
    while (m_root.size() > 1 && m_root.back() == '/')
        m_root.pop_back();
    ::mkdir(m_root.c_str(), 0755);
}

FileStore::~FileStore() = default;

std::optional<std::string> FileStore::walk(const std::string& relative, Make make, bool* made,
                                           std::string* error) const {
    const std::optional<std::vector<std::string>> parts = storagePathComponents(relative, error);
    if (!parts)
        return std::nullopt;
    const size_t folders = make == Make::Nothing   ? 0
                           : make == Make::Parents ? parts->size() - 1
                                                   : parts->size();
    std::string path = m_root;
    for (size_t i = 0; i < parts->size(); ++i) {
        const std::string& part = (*parts)[i];
        std::string next = path + '/' + part;
        struct stat st {};
        bool present = ::lstat(next.c_str(), &st) == 0;
        // Clients upload "manifest.plist" to a lowercased job path and ask for its link with the
        // original case; both must reach the same file.
        if (!present)
            if (const std::optional<std::string> other = m_names->find(path, part)) {
                std::string stored = path + '/' + *other;
                present = ::lstat(stored.c_str(), &st) == 0;
                if (present)
                    next = std::move(stored);
            }
        if (!present && i < folders) {
            const auto makeFolder = [&] { return ::mkdir(next.c_str(), 0755) == 0 || errno == EEXIST; };
            if (!m_names->change(path, part, makeFolder))
                return fail(error, "The folder could not be created."), std::nullopt;
            present = ::lstat(next.c_str(), &st) == 0;
            if (made)
                *made = true;
        }
        // A link inside the store could point anywhere; none is ever followed.
        if (present && S_ISLNK(st.st_mode))
            return fail(error, "The path leaves the storage folder."), std::nullopt;
        if (i < folders && !(present && S_ISDIR(st.st_mode)))
            return fail(error, i + 1 == parts->size() ? "A file with that name exists."
                                                      : "The folder could not be created."),
                   std::nullopt;
        path = std::move(next);
    }
    return path;
}

std::optional<std::string> FileStore::resolve(const std::string& relative, std::string* error) const {
    return walk(relative, Make::Nothing, nullptr, error);
}

std::string FileStore::relativePath(const std::string& resolved) const {
    return resolved.compare(0, m_root.size() + 1, m_root + '/') == 0 ? resolved.substr(m_root.size() + 1)
                                                                     : resolved;
}

std::optional<bool> FileStore::createFolder(const std::string& relative, std::string* error) const {
    const std::unique_lock<std::mutex> naming = m_names->naming();
    bool made = false;
    if (!walk(relative, Make::All, &made, error))
        return std::nullopt;
    return !made;
}

namespace {
constexpr size_t kWriteBuffer = 1 << 20;

bool writeAll(int fd, const char* data, size_t length) {
    while (length > 0) {
        const ssize_t n = ::write(fd, data, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        length -= size_t(n);
    }
    return true;
}

class FileUpload : public ObjectStore::Upload {
public:
    FileUpload(int fd, std::string tempPath, std::string folder, std::string name,
               std::shared_ptr<NameIndex> names)
        : m_fd(fd), m_tempPath(std::move(tempPath)), m_folder(std::move(folder)), m_name(std::move(name)),
          m_names(std::move(names)) {
        m_buffer.reserve(kWriteBuffer);
    }
    ~FileUpload() override { abort(); }
    bool append(const char* data, size_t length) override;
    bool commit() override;
    void abort() override;
    uint64_t received() const override { return m_received; }
    int spliceTarget() override { return m_fd >= 0 && flush() ? m_fd : -1; }
    void spliced(size_t length) override {
        m_received += length;
        m_written += length;
        startWriteback();
    }

private:
    bool flush();
    bool moveIntoPlace();
    // Asks the kernel to start writing what arrived so far to the disk, without waiting, so the
    // disk works while the rest of the upload arrives and commit's fdatasync has little left.
    void startWriteback() {
        if (m_written - m_writebackFrom < kWritebackStep)
            return;
        (void)::sync_file_range(m_fd, off_t(m_writebackFrom), off_t(m_written - m_writebackFrom),
                                SYNC_FILE_RANGE_WRITE);
        m_writebackFrom = m_written;
    }
    static constexpr uint64_t kWritebackStep = 8 << 20;
    uint64_t m_written = 0; // bytes in the file
    uint64_t m_writebackFrom = 0;
    int m_fd;
    // The network hands over a few KiB at a time; writing in large pieces saves most syscalls.
    std::string m_buffer;
    std::string m_tempPath;
    std::string m_folder;
    std::string m_name; // as resolved when the upload began
    std::shared_ptr<NameIndex> m_names;
    uint64_t m_received = 0;
};

bool FileUpload::append(const char* data, size_t length) {
    if (m_fd < 0)
        return false;
    m_received += length;
    if (m_buffer.size() + length > kWriteBuffer && !flush())
        return false;
    if (m_buffer.empty() && length >= kWriteBuffer / 2) { // large enough already: no copy
        if (!writeAll(m_fd, data, length))
            return false;
        m_written += length;
        startWriteback();
        return true;
    }
    m_buffer.append(data, length);
    return true;
}

bool FileUpload::flush() {
    if (!writeAll(m_fd, m_buffer.data(), m_buffer.size()))
        return false;
    m_written += m_buffer.size();
    m_buffer.clear();
    startWriteback();
    return true;
}

bool FileUpload::commit() {
    if (m_fd < 0)
        return false;
    const bool flushed = flush() && ::fdatasync(m_fd) == 0;
    ::close(m_fd);
    m_fd = -1;
    if (!flushed || !moveIntoPlace()) {
        abort();
        return false;
    }
    m_tempPath.clear();
    return true;
}

// Another upload may have stored this name in another letter case since this one began: that
// file is replaced then, so a folder never holds two spellings of one name.
bool FileUpload::moveIntoPlace() {
    const std::unique_lock<std::mutex> naming = m_names->naming();
    std::string name = m_name;
    struct stat st {};
    if (::lstat((m_folder + '/' + name).c_str(), &st) != 0)
        name = m_names->find(m_folder, name).value_or(name);
    const std::string target = m_folder + '/' + name;
    return m_names->change(m_folder, name, [&] { return ::rename(m_tempPath.c_str(), target.c_str()) == 0; });
}

void FileUpload::abort() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_tempPath.empty()) {
        m_names->change(m_folder, std::string(), [this] { return ::unlink(m_tempPath.c_str()) == 0; });
        m_tempPath.clear();
    }
}

// One stored file, or a byte range of it, read from disk piece by piece.
class FileBody : public BodyWriter {
public:
    FileBody(int fd, uint64_t offset, uint64_t length)
        : m_fd(fd), m_offset(offset), m_left(length), m_size(length) {}
    ~FileBody() override { ::close(m_fd); }
    uint64_t size() const override { return m_size; }
    int64_t read(char* buffer, size_t capacity) override {
        const size_t want = size_t(std::min<uint64_t>(capacity, m_left));
        if (want == 0)
            return 0;
        const ssize_t n = ::pread(m_fd, buffer, want, off_t(m_offset));
        if (n <= 0)
            return -1; // the file shrank under us: the promised length cannot be kept
        m_offset += uint64_t(n);
        m_left -= uint64_t(n);
        return n;
    }
    std::optional<FileRegion> fileRegion() const override {
        if (m_left != m_size)
            return std::nullopt; // already partly read
        return FileRegion{m_fd, m_offset};
    }

private:
    int m_fd;
    uint64_t m_offset;
    uint64_t m_left;
    uint64_t m_size;
};

} // namespace

std::unique_ptr<ObjectStore::Upload> FileStore::beginUpload(const std::string& relative,
                                                            std::string* error) const {
    const std::unique_lock<std::mutex> naming = m_names->naming();
    const std::optional<std::string> path = walk(relative, Make::Parents, nullptr, error);
    if (!path)
        return nullptr;
    struct stat st {};
    if (::lstat(path->c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        fail(error, "A folder with that name exists.");
        return nullptr;
    }
    const size_t slash = path->rfind('/');
    std::string folder = path->substr(0, slash);
    const std::string temp = folder + "/.upload-" + randomHex(8) + ".part";
    int fd = -1;
    m_names->change(folder, std::string(), [&] {
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        return fd >= 0;
    });
    if (fd < 0) {
        fail(error, "The file could not be written.");
        return nullptr;
    }
    return std::make_unique<FileUpload>(fd, temp, std::move(folder), path->substr(slash + 1), m_names);
}

bool FileStore::storeFile(const std::string& relative, const std::string& source, std::string* error) const {
    {
        const std::unique_lock<std::mutex> naming = m_names->naming();
        const std::optional<std::string> path = walk(relative, Make::Parents, nullptr, error);
        if (!path)
            return false;
        struct stat st {};
        if (::lstat(path->c_str(), &st) == 0 && !S_ISREG(st.st_mode))
            return fail(error, "A folder with that name exists.");
        const size_t slash = path->rfind('/');
        int renameError = 0;
        if (m_names->change(path->substr(0, slash), path->substr(slash + 1), [&] {
                const bool moved = ::rename(source.c_str(), path->c_str()) == 0;
                renameError = moved ? 0 : errno;
                return moved;
            }))
            return true;
        if (renameError != EXDEV)
            return fail(error, "The file could not be stored.");
    }
    const int fd = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    std::unique_ptr<Upload> upload = fd >= 0 ? beginUpload(relative, error) : nullptr;
    std::vector<char> piece(kWriteBuffer);
    ssize_t n = 0;
    while (upload && (n = ::read(fd, piece.data(), piece.size())) > 0 &&
           upload->append(piece.data(), size_t(n))) {
    }
    const bool stored = upload && n == 0 && upload->commit();
    if (fd >= 0)
        ::close(fd);
    if (stored)
        ::unlink(source.c_str());
    return stored || fail(error, "The file could not be stored.");
}

std::optional<ObjectStore::FileInfo> FileStore::file(const std::string& relative) const {
    const std::optional<std::string> path = resolve(relative);
    if (!path)
        return std::nullopt;
    struct stat st {};
    if (::lstat(path->c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    const size_t slash = path->rfind('/');
    if (path->compare(slash + 1, 8, ".upload-") == 0)
        return std::nullopt; // an upload still in progress
    FileInfo info;
    info.path = relativePath(*path);
    info.size = uint64_t(st.st_size);
    char etag[64];
    std::snprintf(etag, sizeof etag, "\"%llx-%llx\"", static_cast<unsigned long long>(st.st_size),
                  static_cast<unsigned long long>(st.st_mtim.tv_sec) * 1000000000ull +
                      static_cast<unsigned long long>(st.st_mtim.tv_nsec));
    info.etag = etag;
    info.contentType = contentTypeFor(*path);
    return info;
}

bool FileStore::isUnfinishedUpload(const std::string& name) {
    return name.rfind(".upload-", 0) == 0 && name.size() > 13 &&
           name.compare(name.size() - 5, 5, ".part") == 0;
}

int FileStore::removeUnfinishedUploads() const {
    namespace fs = std::filesystem;
    int removed = 0;
    std::error_code ec;
    // Links are not followed: nothing outside the root is ever touched.
    for (fs::recursive_directory_iterator it(m_root, fs::directory_options::skip_permission_denied, ec), end;
         !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (it->is_regular_file(ec) && !it->is_symlink(ec) && isUnfinishedUpload(name)) {
            std::error_code removeError;
            if (fs::remove(it->path(), removeError))
                ++removed;
        }
    }
    return removed;
}

std::shared_ptr<BodyWriter> FileStore::open(const FileInfo& info, uint64_t offset, uint64_t length) const {
    const std::optional<std::string> path = resolve(info.path);
    if (!path)
        return nullptr;
    const int fd = ::open(path->c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    return std::make_shared<FileBody>(fd, offset, length);
}

bool FileStore::isReachable() const {
    struct stat st {};
    return ::stat(m_root.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && ::access(m_root.c_str(), W_OK) == 0;
}

std::optional<std::string> FileStore::loadOrCreateToken(const std::string& dataDir) {
    const std::string path = dataDir + "/storage-token";
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char buffer[256] = {};
        const size_t n = std::fread(buffer, 1, sizeof buffer - 1, f);
        std::fclose(f);
        std::string token(buffer, n);
        while (!token.empty() && (token.back() == '\n' || token.back() == '\r'))
            token.pop_back();
        if (!token.empty())
            return token;
    }
    const std::string token = randomHex(32);
    const std::string temp = path + ".tmp";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return std::nullopt;
    const std::string line = token + "\n";
    const bool written = ::write(fd, line.data(), line.size()) == ssize_t(line.size()) && ::fsync(fd) == 0;
    ::close(fd);
    if (!written || ::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        return std::nullopt;
    }
    return token;
}
