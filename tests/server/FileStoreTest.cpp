#include "server/storage/FileStore.h"
#include "ServerTestUtil.h"

#include <barrier>
#include <cctype>
#include <ctime>
#include <fcntl.h>
#include <sys/inotify.h>
#include <thread>
#include <unistd.h>

namespace {

std::string tempRoot() {
    return (testsupport::makeTempDir("store") + "/files").toStdString();
}

// How often a folder itself was opened or read since the watch began: a lookup that lists it
// shows here.
class FolderReads {
public:
    explicit FolderReads(const std::string& folder) : m_fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        EXPECT_GE(::inotify_add_watch(m_fd, folder.c_str(), IN_OPEN | IN_ACCESS), 0);
    }
    ~FolderReads() { ::close(m_fd); }
    int count() const {
        int reads = 0;
        alignas(inotify_event) char buffer[4096];
        for (ssize_t got; (got = ::read(m_fd, buffer, sizeof buffer)) > 0;)
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                reads += event->len == 0; // the folder itself, not an entry in it
                at += ssize_t(sizeof(inotify_event) + event->len);
            }
        return reads;
    }

private:
    int m_fd;
};

} // namespace

TEST(FileStore, RefusesEveryWayOutOfTheRoot) {
    FileStore store(tempRoot());
    const QString outside = testsupport::makeTempDir("outside");
    // A link is never followed, also when asked for in another case.
    QFile::link(outside, QString::fromStdString(store.root()) + "/Escape");
    const std::string refused[] = {
        "",         "/etc/passwd", "../x", "a/../../x", "a/./b", std::string("a\0b", 3),
        "escape/x", "Escape",      "..",   "a\\..\\b",  "a/..",
    };
    for (const std::string& path : refused) {
        std::string error;
        EXPECT_FALSE(store.resolve(path, &error)) << path;
        EXPECT_FALSE(error.empty()) << path;
        EXPECT_EQ(store.beginUpload(path), nullptr) << path;
        EXPECT_FALSE(store.createFolder(path)) << path;
    }
    EXPECT_TRUE(QDir(outside).isEmpty());
    EXPECT_EQ(store.resolve("Vantry//job/App.ipa"), store.root() + "/Vantry/job/App.ipa");
}

TEST(FileStore, UploadsAppearOnlyWhenCommitted) {
    FileStore store(tempRoot());
    EXPECT_EQ(store.createFolder("Vantry"), std::optional<bool>(false));
    EXPECT_EQ(store.createFolder("Vantry"), std::optional<bool>(true));

    auto upload = store.beginUpload("Vantry/job/App.ipa");
    ASSERT_TRUE(upload);
    ASSERT_TRUE(upload->append("PK\3\4", 4));
    EXPECT_FALSE(store.file("Vantry/job/App.ipa")) << "visible before commit";
    upload.reset(); // the connection dropped half-way
    EXPECT_EQ(filesUnder(QString::fromStdString(store.root())), (QStringList{"Vantry", "Vantry/job"}));

    upload = store.beginUpload("Vantry/job/App.ipa");
    ASSERT_TRUE(upload && upload->append("PK\3\4data", 8) && upload->commit());
    const auto info = store.file("Vantry/job/App.ipa");
    ASSERT_TRUE(info);
    EXPECT_EQ(info->size, 8u);
    EXPECT_EQ(info->contentType, "application/octet-stream");
    EXPECT_EQ(FileStore::contentTypeFor("a.APK"), "application/vnd.android.package-archive");
    EXPECT_EQ(FileStore::contentTypeFor("manifest.plist"), "application/xml");
    EXPECT_FALSE(store.file("Vantry/job")) << "a folder is not a file";
    EXPECT_FALSE(store.createFolder("Vantry/job/App.ipa")) << "a file is not a folder";
}

TEST(FileStore, TokenIsMadeOnceAndOwnerOnly) {
    const std::string dir = testsupport::makeTempDir().toStdString();
    const auto first = FileStore::loadOrCreateToken(dir);
    ASSERT_TRUE(first);
    EXPECT_GE(first->size(), 32u);
    EXPECT_EQ(FileStore::loadOrCreateToken(dir), first);
    EXPECT_EQ(QFile::permissions(QString::fromStdString(dir + "/storage-token")),
              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
}

TEST(FileStore, MissingNamesInALargeFolderDoNotListIt) {
    FileStore store(tempRoot());
    const std::string vantry = store.root() + "/Vantry";
    ASSERT_EQ(::mkdir(vantry.c_str(), 0755), 0);
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(::mkdir((vantry + "/Job_" + std::to_string(i)).c_str(), 0755), 0);
    // As if the folder had last changed that long ago (an existing data folder).
    const auto changedAgo = [&](time_t seconds) {
        const timespec times[2] = {{0, UTIME_OMIT}, {std::time(nullptr) - seconds, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, vantry.c_str(), times, 0), 0);
    };
    changedAgo(3600);
    EXPECT_FALSE(store.file("Vantry/Missing/App.ipa"));
    // Something else adds a folder; the next lookup sees it.
    ASSERT_EQ(::mkdir((vantry + "/Copied_In").c_str(), 0755), 0);
    changedAgo(1800);
    EXPECT_EQ(store.resolve("vantry/copied_in"), vantry + "/Copied_In");

    const FolderReads reads(vantry);
    for (int i = 0; i < 50; ++i) {
        EXPECT_FALSE(store.file("Vantry/Missing_" + std::to_string(i) + "/App.ipa"));
        EXPECT_EQ(store.resolve("vantry/JOB_" + std::to_string(i)), vantry + "/Job_" + std::to_string(i));
    }
    // The store's own additions are found in any spelling.
    ASSERT_EQ(store.createFolder("Vantry/New_Job"), std::optional<bool>(false));
    EXPECT_EQ(store.createFolder("vantry/NEW_JOB"), std::optional<bool>(true));
    auto upload = store.beginUpload("vantry/Notes.txt");
    ASSERT_TRUE(upload && upload->append("n", 1) && upload->commit());
    const auto notes = store.file("VANTRY/notes.TXT");
    ASSERT_TRUE(notes);
    EXPECT_EQ(notes->path, "Vantry/Notes.txt");
    EXPECT_EQ(reads.count(), 0);
}

TEST(FileStore, SpellingsOfOneNewNameEndAsOneEntry) {
    FileStore once(tempRoot());
    // Two uploads of one new file begun in two spellings: the later replaces the earlier.
    auto first = once.beginUpload("Job/App.ipa");
    auto second = once.beginUpload("JOB/APP.IPA");
    ASSERT_TRUE(first && second && first->append("1", 1) && second->append("22", 2));
    ASSERT_TRUE(first->commit() && second->commit());
    EXPECT_EQ(filesUnder(QString::fromStdString(once.root())), (QStringList{"Job", "Job/App.ipa"}));
    EXPECT_EQ(once.file("job/app.ipa")->size, 2u);

    // Every round, each thread asks for a new folder in its own spelling at the same moment: odd
    // threads create it and store a file of their own, even ones upload a shared name.
    constexpr int kThreads = 6;
    constexpr int kRounds = 60;
    FileStore store(tempRoot());
    const QString root = QString::fromStdString(store.root());
    const auto spelled = [](std::string text, int variant) {
        for (size_t k = 0; k < text.size(); ++k)
            if (((variant + 1) >> (k % 3)) & 1)
                text[k] = char(std::toupper(static_cast<unsigned char>(text[k])));
        return text;
    };
    const auto fileOf = [](int thread) {
        return thread % 2 ? "f" + std::to_string(thread) : std::string("app.ipa");
    };
    std::barrier together(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round) {
                together.arrive_and_wait();
                const std::string folder = spelled("vantry/job_" + std::to_string(round), t);
                if (t % 2) {
                    EXPECT_TRUE(store.createFolder(folder));
                }
                auto upload = store.beginUpload(folder + "/" + spelled(fileOf(t), t));
                EXPECT_TRUE(upload && upload->append("x", 1) && upload->commit()) << folder;
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    const QStringList top = QDir(root).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    ASSERT_EQ(top.size(), 1) << top.join(' ').toStdString();
    EXPECT_EQ(QDir(root + '/' + top[0]).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size(), kRounds);
    int misses = 0; // files not found under some spelling of their folder
    for (int round = 0; round < kRounds; ++round)
        for (int asked = 0; asked < kThreads; ++asked)
            for (int t = 0; t < kThreads; ++t)
                misses += !store.file(spelled("vantry/job_" + std::to_string(round), asked) + "/" +
                                      spelled(fileOf(t), asked));
    EXPECT_EQ(misses, 0);
    int files = 0;
    for (QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories); it.hasNext(); it.next())
        ++files;
    EXPECT_EQ(files, kRounds * (1 + kThreads / 2)) << "one shared file and one per odd thread";
}
